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

class SharedSession;

// Null when memory or an argument is missing. Takes a reference on the
// callback, on the logger and on `session`; the caller owns the one
// reference returned. A body silent for `receive_timeout_ms` ends the task
// with WinINet's timeout. Without `session` the task opens a session of its
// own; with one, its request runs in that session.
ITask* CreateHttpTask(const std::wstring& url, const HttpRange& range, IHttpCallback* callback, ILogger* logger,
                      DWORD receive_timeout_ms = kReceiveTimeoutMs, SharedSession* session = nullptr);

}  // namespace stubframework::downloader
