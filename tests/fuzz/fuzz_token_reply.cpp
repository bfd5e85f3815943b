// The token service's answer: the URL read from it is a piece of the answer
// with no double quote in it. Input bytes are UTF-16 code units, two each.
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
  return 0;
}
