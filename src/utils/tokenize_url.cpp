#include "utils/tokenize_url.h"

#include "base/wide_format.h"
#include "utils/post_bytes.h"

#ifndef STUB_TOKEN_SERVICE_HOST
#define STUB_TOKEN_SERVICE_HOST ""
#endif
#ifndef STUB_TOKEN_SERVICE_PORT
#define STUB_TOKEN_SERVICE_PORT 443
#endif
#define STUB_WIDEN2(x) L##x
#define STUB_WIDEN(x) STUB_WIDEN2(x)

namespace stubframework::utils {

const wchar_t kTokenServiceHost[] = STUB_WIDEN(STUB_TOKEN_SERVICE_HOST);

std::wstring TokenServiceEndpoint() {
  if (kTokenServiceHost[0] == L'\0') return std::wstring();
  std::wstring port = STUB_TOKEN_SERVICE_PORT == 443 ? std::wstring() : base::Format(L":%d", STUB_TOKEN_SERVICE_PORT);
  return std::wstring(L"https://") + kTokenServiceHost + port + kTokenServicePath;
}

bool TokenizeUrlAt(const std::wstring& endpoint, std::wstring& url) {
  if (url.empty() || endpoint.empty()) return false;
  std::string answer;
  if (!PostBytes(endpoint, base::ToUtf8(url), &answer)) return false;
  std::wstring tokenized = ExtractTokenizedUrl(base::FromUtf8(answer));
  if (tokenized.empty()) return false;
  url = tokenized;
  return true;
}

bool TokenizeUrl(std::wstring& url) { return TokenizeUrlAt(TokenServiceEndpoint(), url); }

}  // namespace stubframework::utils
