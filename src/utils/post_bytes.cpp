#include "utils/post_bytes.h"

#include <windows.h>
#include <wininet.h>
#include <urlmon.h>

#include <vector>

#include "base/unique_handle.h"
#include "downloader/http_url.h"

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
  downloader::HttpUrl parsed;
  DWORD error = 0;
  if (downloader::ParseHttpUrl(url, &parsed, &error) != downloader::UrlParse::kOk) return false;
  if (parsed.host.empty() || parsed.path.empty()) return false;
  DWORD flags = parsed.secure ? INTERNET_FLAG_SECURE : 0;

  std::string agent = BrowserUserAgent();
  base::UniqueHInternet session(::InternetOpenA(agent.c_str(), INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
  if (!session) return false;
  base::UniqueHInternet connection(::InternetConnectW(session.Get(), parsed.host.c_str(), parsed.port,
                                                parsed.user.empty() ? nullptr : parsed.user.c_str(),
                                                parsed.password.empty() ? nullptr : parsed.password.c_str(),
                                                INTERNET_SERVICE_HTTP, 0, 0));
  if (!connection) return false;
  base::UniqueHInternet request(
      ::HttpOpenRequestW(connection.Get(), L"POST", parsed.path.c_str(), nullptr, nullptr, nullptr, flags, 0));
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
