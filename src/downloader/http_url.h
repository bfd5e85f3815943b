// An http or https URL taken apart for WinINet's connect and request calls.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <string>

namespace stubframework::downloader {

struct HttpUrl {
  bool secure = false;
  std::wstring host;
  INTERNET_PORT port = 0;
  std::wstring user;      // empty when the URL names none
  std::wstring password;  // empty when the URL names none
  std::wstring path;      // to the end of the URL, so a query string stays; may be empty
};

enum class UrlParse { kOk, kNotAUrl, kUnsupportedScheme };

// kNotAUrl leaves the system error in `error`.
UrlParse ParseHttpUrl(const std::wstring& url, HttpUrl* parsed, DWORD* error);

}  // namespace stubframework::downloader
