// HttpTask: one asynchronous HTTP GET on WinINet, optionally ranged and
// guarded by an entity tag. Reports the header once, then each chunk, then
// OnComplete once.
#pragma once

#include <string>

#include "downloader/content_range.h"
#include "downloader/interfaces.h"

namespace stubframework::downloader {

// Null when memory or an argument is missing. Takes a reference on the
// callback and on the logger; the caller owns the one reference returned.
ITask* CreateHttpTask(const std::wstring& url, const HttpRange& range, IHttpCallback* callback,
                      ILogger* logger);

}  // namespace stubframework::downloader
