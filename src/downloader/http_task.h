// HttpTask: one asynchronous HTTP GET on WinINet, optionally ranged and
// guarded by an entity tag. Reports the header once, then each chunk, then
// OnComplete once.
#pragma once

#include <string>

#include "downloader/interfaces.h"

namespace stubframework::downloader {

// Null when memory or an argument is missing. Takes a reference on the
// callback and on the logger; the caller owns the one reference returned.
ITask* CreateHttpTask(const std::wstring& url, const HttpRange& range, IHttpCallback* callback,
                      ILogger* logger);

namespace details {

// Reads "bytes FIRST-LAST/TOTAL" into offset, length and total; false when the
// text has another shape (a "*" total, for example), a number does not fit
// 64 bits, or LAST is before FIRST.
bool ParseContentRange(const std::string& text, int64* offset, int64* length, int64* total);

// The value of a Content-Length header (digits, blanks around them allowed);
// -1 for anything else.
int64 ParseContentLength(const std::string& text);

// "Range: bytes=OFFSET-LAST" for a range of `size` bytes at `offset`.
std::string RangeHeader(int64 offset, int64 size);

}  // namespace details
}  // namespace stubframework::downloader
