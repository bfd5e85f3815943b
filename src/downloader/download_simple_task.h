// DownloadSimpleTask: downloads a file so that every 1 MiB block is proven by
// the SHA-1 digest its meta file lists, and resumes from the first block that
// does not verify. The destination keeps whatever verifies between runs.
#pragma once

#include <string>

#include "downloader/interfaces.h"
#include "downloader/timeouts.h"

namespace stubframework::downloader {

// With `meta` (the .meta's bytes, copied: one the caller has checked), the
// task uses those and fetches nothing from `metaUrl`, now or after fruitless
// cycles: every block is proven against exactly the bytes the caller checked.
ITask* CreateDownloadSimpleTask(const std::wstring& url, const std::wstring& metaUrl, const std::wstring& path,
                                IDownloadCallback* callback, ILogger* logger, const std::string* meta = nullptr,
                                const TransferTimeouts& timeouts = TransferTimeouts());

}  // namespace stubframework::downloader
