#include "utils/moniker_response.h"

#include <cctype>
#include <cwctype>

namespace stubframework::utils {
namespace {

struct StatusResult {
  int status;
  HRESULT result;
};

// Statuses not listed end the download with INET_E_DOWNLOAD_FAILURE.
constexpr StatusResult kStatusResults[] = {
    {200, S_OK},
    {404, INET_E_OBJECT_NOT_FOUND},
};

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  return text;
}

bool EndsWithNoCase(const std::wstring& text, const std::wstring& tail) {
  if (text.size() < tail.size()) return false;
  for (size_t i = 0; i < tail.size(); ++i) {
    if (towlower(text[text.size() - tail.size() + i]) != tail[i]) return false;
  }
  return true;
}

}  // namespace

HRESULT JudgeMonikerResponse(const MonikerResponse& response, const std::wstring& url, bool unchecked) {
  HRESULT result = INET_E_DOWNLOAD_FAILURE;
  for (const StatusResult& row : kStatusResults) {
    if (row.status == response.status) result = row.result;
  }
  if (result != S_OK || !unchecked) return result;
  if (response.length < 0) return INET_E_DOWNLOAD_FAILURE;
  if (IsHtmlContentType(response.content_type) && !UrlNamesHtmlDocument(url)) return INET_E_DOWNLOAD_FAILURE;
  return S_OK;
}

int64_t ParseContentLength(const std::string& text) {
  if (text.empty() || text.size() > 18) return -1;  // 18 digits cannot overflow
  int64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return -1;
    value = value * 10 + (c - '0');
  }
  return value;
}

bool UrlNamesHtmlDocument(const std::wstring& url) {
  size_t scheme = url.find(L"://");
  size_t path_start = url.find(L'/', scheme == std::wstring::npos ? 0 : scheme + 3);
  if (path_start == std::wstring::npos) return false;
  size_t path_end = url.find_first_of(L"?#", path_start);
  std::wstring path = url.substr(path_start, path_end == std::wstring::npos ? std::wstring::npos : path_end - path_start);
  return EndsWithNoCase(path, L".htm") || EndsWithNoCase(path, L".html");
}

bool IsHtmlContentType(const std::string& content_type) {
  std::string media = Lower(content_type.substr(0, content_type.find(';')));
  size_t first = media.find_first_not_of(" \t");
  size_t last = media.find_last_not_of(" \t");
  if (first == std::string::npos) return false;
  return media.substr(first, last - first + 1) == "text/html";
}

}  // namespace stubframework::utils
