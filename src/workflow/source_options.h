// The page's options for a block-verified download from several sources:
// more URLs of the same file (mirrors) and how many connections to open. Both
// come as properties the page sets before `download`; both are refused, not
// repaired, when malformed.
#pragma once

#include <string>
#include <vector>

namespace stubframework::workflow {

// Mirrors of the file `download` names, separated by blanks or line breaks.
inline constexpr wchar_t kDownloadMirrors[] = L"downloadMirrors";
// Connections in flight at once, "1" to kMaxDownloadConnections; empty: 1.
inline constexpr wchar_t kDownloadConnections[] = L"downloadConnections";

struct SourceOptions {
  std::vector<std::wstring> urls;  // the download's URL first, then its mirrors
  int connections = 1;
};

// Whether the options ask for anything but today's single request: a mirror,
// or a connection count other than 1 (a malformed one included, so that it
// is refused rather than ignored).
bool UsesSeveralSources(const std::wstring& mirrors, const std::wstring& connections);

// Parses the options for a download of `url`. False with `problem` (a log
// line's words) when a mirror is not an http(s) URL, leaves TLS while `url`
// uses it, is too long or repeats, when there are more than
// kMaxDownloadMirrors URLs in all, or when the count is not a number from 1
// to kMaxDownloadConnections.
bool ParseSourceOptions(const std::wstring& url, const std::wstring& mirrors, const std::wstring& connections,
                        SourceOptions* options, std::wstring* problem);

}  // namespace stubframework::workflow
