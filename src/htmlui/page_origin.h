// Which documents are the stub's own pages: the rule that decides who gets
// window.external (it can run programs as administrator) and where the host
// window may navigate. Pure functions over text, no Windows calls.
#pragma once

#include <string>

namespace stubframework::htmlui {

// The folder a start page lies in, with its trailing backslash; empty when
// the page is not an absolute local path ("C:\...\Load.html").
std::wstring PageFolderOf(const std::wstring& start_page);

// True when url names a file strictly below folder (an absolute local folder
// with or without its trailing backslash): a plain path ("C:\f\Load.html") or
// a file URL ("file:///C:/f/Load.html", "file://localhost/C:/f/..."), compared
// without regard to ASCII case, "/" and "\" alike, percent escapes decoded
// once. A query or fragment of a file URL does not change the file. Anything
// that could name another file than it seems to is refused: ".." or "."
// segments (escaped or not), empty segments, a name ending in a dot or a
// blank, a stream (":"), an escape that survives decoding or decodes to a
// control character, UNC paths and every other scheme.
bool IsBundlePage(const std::wstring& url, const std::wstring& folder);

enum class NavigationVerdict {
  kLoadInPlace,    // a page of the bundle: the host window shows it
  kOpenInBrowser,  // an http or https address: the user's default browser shows it, not the host
  kRefuse,         // anything else: nothing happens
};

NavigationVerdict ClassifyNavigation(const std::wstring& url, const std::wstring& folder);

}  // namespace stubframework::htmlui
