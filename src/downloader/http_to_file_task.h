// HttpToFileTask: writes the byte range [offset, offset + size) of a resource
// into an open file at the file's current position, resuming a short body
// with a ranged request for exactly the missing bytes.
#pragma once

#include <windows.h>

#include <string>

#include "downloader/interfaces.h"
#include "downloader/timeouts.h"

namespace stubframework::downloader {

// The caller positions `file` where `offset` belongs; the file is not owned.
// `validator` (a kept ETag or date) guards the first request with If-Range.
// A response that goes idle short of its length is resumed like one that
// ended short, until the silences add up to `timeouts.stall_limit_ms`.
ITask* CreateHttpToFileTask(const std::wstring& url, HANDLE file, int64 offset, int64 size,
                            IHttpToFileCallback* callback, ILogger* logger,
                            const std::string& validator = std::string(),
                            const TransferTimeouts& timeouts = TransferTimeouts());

}  // namespace stubframework::downloader
