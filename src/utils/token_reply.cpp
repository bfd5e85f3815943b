#include "utils/token_reply.h"

namespace stubframework::utils {

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

}  // namespace stubframework::utils
