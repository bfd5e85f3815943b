#include "workflow/source_options.h"

#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <cwctype>

#include "downloader/block_plan.h"

namespace stubframework::workflow {
namespace {

bool StartsWithNoCase(const std::wstring& text, const wchar_t* prefix) {
  size_t n = wcslen(prefix);
  if (text.size() < n) return false;
  for (size_t i = 0; i < n; ++i) {
    if (std::towlower(text[i]) != prefix[i]) return false;
  }
  return true;
}

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n'; }

std::vector<std::wstring> Words(const std::wstring& text) {
  std::vector<std::wstring> words;
  size_t at = 0;
  while (at < text.size()) {
    while (at < text.size() && IsBlank(text[at])) ++at;
    size_t end = at;
    while (end < text.size() && !IsBlank(text[end])) ++end;
    if (end > at) words.push_back(text.substr(at, end - at));
    at = end;
  }
  return words;
}

// What a mirror's text may be: an http(s) URL with a host, printable, no
// longer than a URL may be.
bool IsMirrorUrl(const std::wstring& url) {
  if (url.size() > INTERNET_MAX_URL_LENGTH) return false;
  for (wchar_t c : url) {
    if (c < 0x21 || c == 0x7F) return false;
  }
  size_t host = StartsWithNoCase(url, L"https://") ? 8 : StartsWithNoCase(url, L"http://") ? 7 : 0;
  return host != 0 && url.size() > host && url[host] != L'/';
}

}  // namespace

bool UsesSeveralSources(const std::wstring& mirrors, const std::wstring& connections) {
  return !Words(mirrors).empty() || (!connections.empty() && connections != L"1");
}

bool ParseSourceOptions(const std::wstring& url, const std::wstring& mirrors, const std::wstring& connections,
                        SourceOptions* options, std::wstring* problem) {
  SourceOptions parsed;
  parsed.urls.push_back(url);
  if (!connections.empty()) {
    if (connections.size() > 2 ||
        !std::all_of(connections.begin(), connections.end(), [](wchar_t c) { return c >= L'0' && c <= L'9'; })) {
      *problem = L"the connection count is not a number from 1 to the maximum";
      return false;
    }
    parsed.connections = 0;
    for (wchar_t c : connections) parsed.connections = parsed.connections * 10 + (c - L'0');
    if (parsed.connections < 1 || parsed.connections > downloader::kMaxDownloadConnections) {
      *problem = L"the connection count is not a number from 1 to the maximum";
      return false;
    }
  }
  const bool secure = StartsWithNoCase(url, L"https://");
  for (const std::wstring& mirror : Words(mirrors)) {
    if (!IsMirrorUrl(mirror)) {
      *problem = L"a mirror is not an http or https URL";
      return false;
    }
    // A mirror reached without TLS could hand out the .meta that proves
    // every block of a download its publisher serves over TLS.
    if (secure && !StartsWithNoCase(mirror, L"https://")) {
      *problem = L"a mirror leaves TLS";
      return false;
    }
    if (std::find(parsed.urls.begin(), parsed.urls.end(), mirror) != parsed.urls.end()) {
      *problem = L"a mirror is named twice";
      return false;
    }
    if (parsed.urls.size() >= downloader::kMaxDownloadMirrors) {
      *problem = L"there are more mirrors than the maximum";
      return false;
    }
    parsed.urls.push_back(mirror);
  }
  *options = std::move(parsed);
  return true;
}

}  // namespace stubframework::workflow
