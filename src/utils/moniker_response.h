// What a plain download learns of the HTTP response before it writes the
// body, and whether that body may be the file asked for, judged as a
// URL-moniker download judges it.
#pragma once

#include <windows.h>
#include <urlmon.h>

#include <cstdint>
#include <string>

namespace stubframework::utils {

struct MonikerResponse {
  int status = 0;            // 0: could not be read
  int64_t length = -1;       // Content-Length; -1: none announced
  std::string content_type;  // as sent; empty when absent
};

// S_OK when the body may be written to the file; otherwise the result the
// download ends with. Only 200 is the file: the moniker download asks for no
// range, so a 206 is a part of it. 404 is INET_E_OBJECT_NOT_FOUND, any other
// status (or none) INET_E_DOWNLOAD_FAILURE. When nothing checks the bytes
// afterwards (`unchecked`), a body without a length is refused too (its cut
// cannot be told from its end), and so is an HTML page for a URL that names
// no HTML document (what a captive portal answers).
HRESULT JudgeMonikerResponse(const MonikerResponse& response, const std::wstring& url, bool unchecked);

// The digits of a Content-Length header as a number; -1 when it is not one.
int64_t ParseContentLength(const std::string& text);

// Whether the path of `url` (query and fragment left out) ends in ".htm" or
// ".html", in any case.
bool UrlNamesHtmlDocument(const std::wstring& url);

// Whether a Content-Type value is text/html, parameters and case aside.
bool IsHtmlContentType(const std::string& content_type);

}  // namespace stubframework::utils
