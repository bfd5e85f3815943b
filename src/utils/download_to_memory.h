// Blocking fetches into memory and checks of a file against its meta.
#pragma once

#include <functional>
#include <string>

#include "downloader/buffer.h"

namespace stubframework::utils {

// The whole resource into `buffer` (resized to fit). Logs nothing. A `stop`
// that answers true (asked every kStopPollMs) cancels the fetch: false.
bool DownloadToMemory(const std::wstring& url, downloader::Buffer& buffer,
                      const std::function<bool()>& stop = std::function<bool()>());

}  // namespace stubframework::utils
