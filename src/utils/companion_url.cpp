#include "utils/companion_url.h"

namespace stubframework::utils {

std::wstring CompanionUrl(const std::wstring& url, const std::wstring& suffix) {
  // The path ends at the first '?' or '#'; neither can appear in a scheme or
  // an authority that a download URL is allowed to carry.
  size_t path_end = url.find_first_of(L"?#");
  if (path_end == std::wstring::npos) return url + suffix;
  std::wstring result = url.substr(0, path_end);
  result += suffix;
  result += url.substr(path_end);
  return result;
}

}  // namespace stubframework::utils
