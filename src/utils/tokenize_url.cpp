#include "utils/tokenize_url.h"

#include "base/log.h"
#include "base/wide_format.h"
#include "identity/product_identity.h"
#include "utils/post_bytes.h"

namespace stubframework::utils {

const wchar_t* const kTokenServiceHost = identity::kTokenServiceHost;

std::wstring TokenServiceEndpoint() {
  if (kTokenServiceHost[0] == L'\0') return std::wstring();
  const unsigned port_number = identity::kTokenServicePort;
  std::wstring port = port_number == 443 ? std::wstring() : base::Format(L":%u", port_number);
  return std::wstring(L"https://") + kTokenServiceHost + port + kTokenServicePath;
}

bool TokenizeUrlAt(const std::wstring& endpoint, std::wstring& url, base::Log* log) {
  if (url.empty() || endpoint.empty()) return false;
  std::string answer;
  if (!PostBytes(endpoint, base::ToUtf8(url), &answer, kTokenDeadlineMs)) return false;
  TokenReplyFault fault = ReadTokenReply(base::FromUtf8(answer), &url);
  if (fault != TokenReplyFault::kNone) {
    base::LogError(log, L"TokenizeUrl: answer not used, %s; keeping %s", TokenReplyFaultText(fault), url.c_str());
  }
  return fault == TokenReplyFault::kNone;
}

bool TokenizeUrl(std::wstring& url, base::Log* log) { return TokenizeUrlAt(TokenServiceEndpoint(), url, log); }

}  // namespace stubframework::utils
