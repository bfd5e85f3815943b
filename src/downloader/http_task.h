// HttpTask: one asynchronous HTTP GET on WinINet, optionally ranged and
// guarded by an entity tag. Reports the header once, then each chunk, then
// OnComplete once.
#pragma once

#include <windows.h>

#include <string>

#include "downloader/content_range.h"
#include "downloader/interfaces.h"
#include "downloader/timeouts.h"

namespace stubframework::downloader {

// Null when memory or an argument is missing. Takes a reference on the
// callback and on the logger; the caller owns the one reference returned.
// A body silent for `receive_timeout_ms` ends the task with WinINet's timeout.
ITask* CreateHttpTask(const std::wstring& url, const HttpRange& range, IHttpCallback* callback, ILogger* logger,
                      DWORD receive_timeout_ms = kReceiveTimeoutMs);

}  // namespace stubframework::downloader
