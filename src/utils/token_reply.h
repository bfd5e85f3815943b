// The URL-tokenizing service's answer, read without Windows headers (the
// reader also builds natively, for fuzzing).
#pragma once

#include <string>

namespace stubframework::utils {

// The text between the first two double quotes after "tokenizedUrl": in the
// service's answer; empty when absent. No unescaping.
std::wstring ExtractTokenizedUrl(const std::wstring& answer);

// Why an answer's URL is not used in place of the address that was sent.
enum class TokenReplyFault {
  kNone,
  kNoUrl,          // no "tokenizedUrl" member, or an empty one
  kNotHttps,       // any scheme but https: (the answer would downgrade or redirect the transfer)
  kMalformed,      // no host, a user part, or characters no URL carries (blanks, controls, backslashes)
};

// What the log says for each fault.
const wchar_t* TokenReplyFaultText(TokenReplyFault fault);

// The answer's URL, when it is one to use: "https://" (in any letter case),
// a host without a user part, and nothing but visible ASCII. Otherwise url is left as it was.
TokenReplyFault ReadTokenReply(const std::wstring& answer, std::wstring* url);

}  // namespace stubframework::utils
