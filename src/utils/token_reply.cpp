#include "utils/token_reply.h"

namespace stubframework::utils {

namespace {

constexpr wchar_t kHttpsScheme[] = L"https://";
constexpr size_t kHttpsSchemeLength = sizeof(kHttpsScheme) / sizeof(kHttpsScheme[0]) - 1;

wchar_t Lower(wchar_t c) { return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c; }

bool StartsWithHttps(const std::wstring& url) {
  if (url.size() < kHttpsSchemeLength) return false;
  for (size_t i = 0; i < kHttpsSchemeLength; ++i) {
    if (Lower(url[i]) != kHttpsScheme[i]) return false;
  }
  return true;
}

// Visible ASCII only: a blank, a control or a non-ASCII character is not
// sent as part of a URL, and a backslash is read as a path separator by some
// URL parsers and not by others.
bool CarriesOnlyUrlCharacters(const std::wstring& url) {
  for (wchar_t c : url) {
    if (c <= L' ' || c >= 0x7F || c == L'\\') return false;
  }
  return true;
}

}  // namespace

std::wstring ExtractTokenizedUrl(const std::wstring& answer) {
  static const wchar_t kKey[] = L"\"tokenizedUrl\":";
  size_t key = answer.find(kKey);
  if (key == std::wstring::npos) return std::wstring();
  size_t open = answer.find(L'"', key + (sizeof(kKey) / sizeof(kKey[0]) - 1));
  if (open == std::wstring::npos) return std::wstring();
  size_t close = answer.find(L'"', open + 1);
  if (close == std::wstring::npos) return std::wstring();
  return answer.substr(open + 1, close - open - 1);
}

const wchar_t* TokenReplyFaultText(TokenReplyFault fault) {
  switch (fault) {
    case TokenReplyFault::kNone: return L"used";
    case TokenReplyFault::kNoUrl: return L"the answer holds no URL";
    case TokenReplyFault::kNotHttps: return L"the answer's URL is not https";
    case TokenReplyFault::kMalformed: return L"the answer's URL is malformed";
  }
  return L"unknown";
}

TokenReplyFault ReadTokenReply(const std::wstring& answer, std::wstring* url) {
  std::wstring tokenized = ExtractTokenizedUrl(answer);
  if (tokenized.empty()) return TokenReplyFault::kNoUrl;
  if (!StartsWithHttps(tokenized)) return TokenReplyFault::kNotHttps;
  if (!CarriesOnlyUrlCharacters(tokenized)) return TokenReplyFault::kMalformed;
  // A host: something before the first "/", "?" or "#" after the scheme, and
  // not only a port.
  size_t host_end = tokenized.find_first_of(L"/?#", kHttpsSchemeLength);
  std::wstring authority = tokenized.substr(kHttpsSchemeLength, host_end == std::wstring::npos
                                                                    ? std::wstring::npos
                                                                    : host_end - kHttpsSchemeLength);
  // A user part would let "https://cdn.example@elsewhere/" read as the CDN.
  if (authority.empty() || authority[0] == L':' || authority.find(L'@') != std::wstring::npos) {
    return TokenReplyFault::kMalformed;
  }
  *url = tokenized;
  return TokenReplyFault::kNone;
}

}  // namespace stubframework::utils
