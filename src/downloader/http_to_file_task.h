// HttpToFileTask: writes the byte range [offset, offset + size) of a resource
// into an open file at the file's current position, resuming a short body
// with a ranged request for exactly the missing bytes.
#pragma once

#include <windows.h>

#include <string>

#include "downloader/interfaces.h"

namespace stubframework::downloader {

// The caller positions `file` where `offset` belongs; the file is not owned.
// `validator` (a kept ETag or date) guards the first request with If-Range.
ITask* CreateHttpToFileTask(const std::wstring& url, HANDLE file, int64 offset, int64 size,
                            IHttpToFileCallback* callback, ILogger* logger,
                            const std::string& validator = std::string());

}  // namespace stubframework::downloader
