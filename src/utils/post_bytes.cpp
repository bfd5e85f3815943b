#include "utils/post_bytes.h"

#include <windows.h>
#include <wininet.h>
#include <urlmon.h>

#include <vector>

#include "app/unique_handle.h"

namespace stubframework::utils {
namespace {
constexpr DWORD kReadStep = 65536;
}  // namespace

std::string BrowserUserAgent() {
  std::vector<char> agent(256);
  for (;;) {
    DWORD size = static_cast<DWORD>(agent.size());
    HRESULT hr = ::ObtainUserAgentString(0, agent.data(), &size);
    if (hr == E_OUTOFMEMORY && size > agent.size()) {
      agent.resize(size);
      continue;
    }
    if (FAILED(hr)) return std::string();
    return std::string(agent.data());
  }
}

bool PostBytes(const std::wstring& url, const std::string& body, std::string* response) {
  response->clear();
  URL_COMPONENTSW parts = {};
  parts.dwStructSize = sizeof(parts);
  parts.dwHostNameLength = static_cast<DWORD>(-1);
  parts.dwUserNameLength = static_cast<DWORD>(-1);
  parts.dwPasswordLength = static_cast<DWORD>(-1);
  parts.dwUrlPathLength = static_cast<DWORD>(-1);
  if (!::InternetCrackUrlW(url.c_str(), 0, 0, &parts)) return false;
  if (parts.dwHostNameLength == 0 || parts.dwUrlPathLength == 0) return false;
  DWORD flags = 0;
  if (parts.nScheme == INTERNET_SCHEME_HTTPS) {
    flags = INTERNET_FLAG_SECURE;
  } else if (parts.nScheme != INTERNET_SCHEME_HTTP) {
    return false;
  }
  std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
  std::wstring user(parts.lpszUserName ? parts.lpszUserName : L"", parts.lpszUserName ? parts.dwUserNameLength : 0);
  std::wstring password(parts.lpszPassword ? parts.lpszPassword : L"",
                        parts.lpszPassword ? parts.dwPasswordLength : 0);
  std::wstring path(parts.lpszUrlPath);  // runs to the end: a query string stays

  std::string agent = BrowserUserAgent();
  UniqueHInternet session(::InternetOpenA(agent.c_str(), INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
  if (!session) return false;
  UniqueHInternet connection(::InternetConnectW(session.Get(), host.c_str(), parts.nPort,
                                                user.empty() ? nullptr : user.c_str(),
                                                password.empty() ? nullptr : password.c_str(),
                                                INTERNET_SERVICE_HTTP, 0, 0));
  if (!connection) return false;
  UniqueHInternet request(
      ::HttpOpenRequestW(connection.Get(), L"POST", path.c_str(), nullptr, nullptr, nullptr, flags, 0));
  if (!request) return false;
  if (!::HttpSendRequestW(request.Get(), nullptr, 0, const_cast<char*>(body.data()),
                          static_cast<DWORD>(body.size()))) {
    return false;
  }
  std::string received;
  for (;;) {
    size_t at = received.size();
    received.resize(at + kReadStep);
    DWORD read = 0;
    if (!::InternetReadFile(request.Get(), &received[at], kReadStep, &read)) return false;
    received.resize(at + read);
    if (read == 0) break;
  }
  *response = std::move(received);
  return true;
}

}  // namespace stubframework::utils
