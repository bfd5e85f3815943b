// The URL-tokenizing service: exchanges a download URL for a signed one.
#pragma once

#include <string>

#include "utils/token_reply.h"

namespace stubframework::base {
class Log;
}

namespace stubframework::utils {

// The service's host and port, build-time settings (CMake STUB_TOKEN_SERVICE_HOST,
// STUB_TOKEN_SERVICE_PORT); no host, and no URL is tokenized.
extern const wchar_t* const kTokenServiceHost;
inline constexpr wchar_t kTokenServicePath[] = L"/v1/token";

// "https://" + host [+ ":" + port other than 443] + "/v1/token", or empty without a host.
std::wstring TokenServiceEndpoint();

// Posts `url` (UTF-8) to the configured service and replaces it with the
// answer's "tokenizedUrl" when that is an https URL (ReadTokenReply). False,
// with `url` unchanged, when there is no service, the post fails or the
// answer is not used; why an answer is not used goes to log (may be null).
bool TokenizeUrl(std::wstring& url, base::Log* log = nullptr);

// The same against an explicit endpoint (tests run a local service).
bool TokenizeUrlAt(const std::wstring& endpoint, std::wstring& url, base::Log* log = nullptr);

}  // namespace stubframework::utils
