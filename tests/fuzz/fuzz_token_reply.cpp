// The token service's answer: the URL read from it is a piece of the answer
// with no double quote in it, and one that is used is an https URL. Input
// bytes are UTF-16 code units, two each.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "utils/token_reply.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::wstring answer;
  for (size_t i = 0; i + 1 < size; i += 2) answer.push_back(static_cast<wchar_t>(data[i] | (data[i + 1] << 8)));
  const std::wstring url = stubframework::utils::ExtractTokenizedUrl(answer);
  if (url.find(L'"') != std::wstring::npos) abort();
  if (!url.empty() && answer.find(url) == std::wstring::npos) abort();
  // A URL that is used is the extracted one, https, visible ASCII only.
  std::wstring used = L"unchanged";
  const auto fault = stubframework::utils::ReadTokenReply(answer, &used);
  if (fault != stubframework::utils::TokenReplyFault::kNone) {
    if (used != L"unchanged") abort();
    return 0;
  }
  if (used != url || used.size() < 9) abort();
  for (size_t i = 0; i < 8; ++i) {
    if ((used[i] | 0x20) != L"https://"[i]) abort();
  }
  for (wchar_t c : used) {
    if (c <= L' ' || c >= 0x7F || c == L'\\') abort();
  }
  return 0;
}
