// Blocking fetches into memory and checks of a file against its meta.
#pragma once

#include <string>

#include "downloader/buffer.h"

namespace stubframework::utils {

// The whole resource into `buffer` (resized to fit). Logs nothing.
bool DownloadToMemory(const std::wstring& url, downloader::Buffer& buffer);

}  // namespace stubframework::utils
