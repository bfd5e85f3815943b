#include "utils/post_bytes.h"

#include <windows.h>
#include <urlmon.h>

#include <utility>
#include <vector>

#include "downloader/http_url.h"

namespace stubframework::utils {
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

bool PostBytes(const std::wstring& url, const std::string& body, std::string* response, DWORD deadline_ms) {
  response->clear();
  downloader::HttpUrl parsed;
  DWORD error = 0;
  if (downloader::ParseHttpUrl(url, &parsed, &error) != downloader::UrlParse::kOk) return false;
  // The services posted to are named by settings, never with credentials.
  if (parsed.host.empty() || parsed.path.empty() || !parsed.user.empty() || !parsed.password.empty()) return false;

  const std::string agent = BrowserUserAgent();
  const std::wstring wide_agent(agent.begin(), agent.end());
  TimedRequest request;
  request.agent = wide_agent.c_str();
  request.user_proxy = true;
  request.host = parsed.host;
  request.port = parsed.port;
  request.secure = parsed.secure;
  request.verb = L"POST";
  request.path = parsed.path;
  request.body = body;
  request.read_limit = kMaxPostAnswerBytes;
  request.deadline_ms = deadline_ms;
  TimedReply reply = ExchangeWithDeadline(std::move(request));
  if (!reply.answered || reply.timed_out || reply.over_limit || reply.step != ExchangeStep::kDone) return false;
  *response = std::move(reply.body);
  return true;
}

}  // namespace stubframework::utils
