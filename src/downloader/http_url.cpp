#include "downloader/http_url.h"

namespace stubframework::downloader {

namespace {

std::wstring Part(const wchar_t* text, DWORD length) { return text != nullptr ? std::wstring(text, length) : L""; }

}  // namespace

UrlParse ParseHttpUrl(const std::wstring& url, HttpUrl* parsed, DWORD* error) {
  URL_COMPONENTSW parts = {};
  parts.dwStructSize = sizeof(parts);
  parts.dwHostNameLength = static_cast<DWORD>(-1);
  parts.dwUserNameLength = static_cast<DWORD>(-1);
  parts.dwPasswordLength = static_cast<DWORD>(-1);
  parts.dwUrlPathLength = static_cast<DWORD>(-1);
  if (!::InternetCrackUrlW(url.c_str(), 0, 0, &parts)) {
    *error = ::GetLastError();
    return UrlParse::kNotAUrl;
  }
  if (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS) {
    return UrlParse::kUnsupportedScheme;
  }
  parsed->secure = parts.nScheme == INTERNET_SCHEME_HTTPS;
  parsed->host = Part(parts.lpszHostName, parts.dwHostNameLength);
  parsed->port = parts.nPort;
  parsed->user = Part(parts.lpszUserName, parts.dwUserNameLength);
  parsed->password = Part(parts.lpszPassword, parts.dwPasswordLength);
  // The path component runs to the end of the URL, query string included.
  parsed->path = parts.lpszUrlPath != nullptr && parts.dwUrlPathLength > 0 ? std::wstring(parts.lpszUrlPath) : L"";
  return UrlParse::kOk;
}

}  // namespace stubframework::downloader
