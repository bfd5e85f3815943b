#include "htmlui/page_origin.h"

#include <cstdint>

namespace stubframework::htmlui {

namespace {

constexpr wchar_t kFileScheme[] = L"file:";
constexpr wchar_t kNoHost[] = L"///";
constexpr wchar_t kLocalHost[] = L"//localhost/";

wchar_t FoldAscii(wchar_t c) { return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c; }

bool StartsWithNoCase(const std::wstring& text, size_t at, const wchar_t* prefix) {
  for (size_t i = 0; prefix[i] != L'\0'; ++i) {
    if (at + i >= text.size() || FoldAscii(text[at + i]) != FoldAscii(prefix[i])) return false;
  }
  return true;
}

size_t Length(const wchar_t* text) {
  size_t n = 0;
  while (text[n] != L'\0') ++n;
  return n;
}

int HexValue(wchar_t c) {
  if (c >= L'0' && c <= L'9') return c - L'0';
  if (c >= L'a' && c <= L'f') return c - L'a' + 10;
  if (c >= L'A' && c <= L'F') return c - L'A' + 10;
  return -1;
}

// Strict UTF-8 (no overlong forms, no surrogates): an overlong "." must not
// slip past the segment checks.
bool AppendUtf8(const std::string& bytes, std::wstring* out) {
  for (size_t i = 0; i < bytes.size();) {
    const uint8_t lead = static_cast<uint8_t>(bytes[i]);
    const size_t extra = lead < 0x80            ? 0
                         : (lead & 0xE0) == 0xC0 ? 1
                         : (lead & 0xF0) == 0xE0 ? 2
                         : (lead & 0xF8) == 0xF0 ? 3
                                                 : 9;
    if (extra == 9 || extra > bytes.size() - 1 - i) return false;
    uint32_t code = extra == 0 ? lead : extra == 1 ? (lead & 0x1F) : extra == 2 ? (lead & 0x0F) : (lead & 0x07);
    for (size_t k = 1; k <= extra; ++k) {
      const uint8_t next = static_cast<uint8_t>(bytes[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      code = (code << 6) | (next & 0x3F);
    }
    static const uint32_t kSmallest[] = {0, 0x80, 0x800, 0x10000};
    if (code < kSmallest[extra] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
    if (code >= 0x10000) {
      code -= 0x10000;
      out->push_back(static_cast<wchar_t>(0xD800 + (code >> 10)));
      out->push_back(static_cast<wchar_t>(0xDC00 + (code & 0x3FF)));
    } else {
      out->push_back(static_cast<wchar_t>(code));
    }
    i += 1 + extra;
  }
  return true;
}

// Decodes every %XX once; runs of escapes are UTF-8. False on a bad escape.
bool PercentDecode(const std::wstring& text, std::wstring* out) {
  out->clear();
  for (size_t i = 0; i < text.size();) {
    if (text[i] != L'%') {
      out->push_back(text[i++]);
      continue;
    }
    std::string bytes;
    while (i < text.size() && text[i] == L'%') {
      if (text.size() - i < 3) return false;
      const int high = HexValue(text[i + 1]);
      const int low = HexValue(text[i + 2]);
      if (high < 0 || low < 0) return false;
      bytes.push_back(static_cast<char>(high * 16 + low));
      i += 3;
    }
    if (!AppendUtf8(bytes, out)) return false;
  }
  return true;
}

bool IsDrivePath(const std::wstring& path) {
  return path.size() >= 3 && FoldAscii(path[0]) >= L'a' && FoldAscii(path[0]) <= L'z' && path[1] == L':' &&
         (path[2] == L'\\' || path[2] == L'/');
}

// Each name after the drive: not empty, not "." or "..", not ending in a dot
// or blank (Windows drops them, so "a." is "a"), and without characters a
// file name cannot hold or that a second decoding would change.
bool NamesAreSound(const std::wstring& path, bool trailing_separator_allowed) {
  size_t start = 3;
  while (start <= path.size()) {
    size_t end = path.find(L'\\', start);
    if (end == std::wstring::npos) end = path.size();
    const std::wstring name = path.substr(start, end - start);
    const bool last = end == path.size();
    if (name.empty()) {
      if (!(last && trailing_separator_allowed && start == path.size())) return false;
      return true;
    }
    if (name.back() == L'.' || name.back() == L' ') return false;
    for (wchar_t c : name) {
      if (c < 0x20 || c == L':' || c == L'%' || c == L'*' || c == L'?' || c == L'"' || c == L'<' || c == L'>' ||
          c == L'|') {
        return false;
      }
    }
    if (last) return true;
    start = end + 1;
  }
  return true;
}

// The local path a page address names, "\" separated; false when it is none
// or when it could name another file than its text says.
bool LocalPath(const std::wstring& url, std::wstring* path) {
  std::wstring local;
  if (StartsWithNoCase(url, 0, kFileScheme)) {
    size_t at = Length(kFileScheme);
    if (StartsWithNoCase(url, at, kLocalHost)) {
      at += Length(kLocalHost);
    } else if (StartsWithNoCase(url, at, kNoHost)) {
      at += Length(kNoHost);
    } else {
      return false;  // another host: a share elsewhere
    }
    size_t end = url.find_first_of(L"?#", at);
    if (!PercentDecode(url.substr(at, end == std::wstring::npos ? std::wstring::npos : end - at), &local)) {
      return false;
    }
  } else {
    local = url;
  }
  if (!IsDrivePath(local)) return false;
  for (wchar_t& c : local) {
    if (c == L'/') c = L'\\';
  }
  if (!NamesAreSound(local, false)) return false;
  *path = local;
  return true;
}

// The folder as a "\" separated path ending in "\"; empty when unusable.
std::wstring NormalFolder(const std::wstring& folder) {
  std::wstring normal = folder;
  for (wchar_t& c : normal) {
    if (c == L'/') c = L'\\';
  }
  if (!IsDrivePath(normal)) return std::wstring();
  if (normal.back() != L'\\') normal.push_back(L'\\');
  return NamesAreSound(normal, true) ? normal : std::wstring();
}

bool IsWebAddress(const std::wstring& url) {
  size_t host;
  if (StartsWithNoCase(url, 0, L"https://")) {
    host = 8;
  } else if (StartsWithNoCase(url, 0, L"http://")) {
    host = 7;
  } else {
    return false;
  }
  if (host >= url.size() || url[host] == L'/') return false;
  // Handed to the shell as one argument: nothing that could end or split it.
  for (wchar_t c : url) {
    if (c <= L' ' || c == L'"' || c == 0x7F) return false;
  }
  return true;
}

}  // namespace

std::wstring PageFolderOf(const std::wstring& start_page) {
  std::wstring path;
  if (!LocalPath(start_page, &path)) return std::wstring();
  return path.substr(0, path.rfind(L'\\') + 1);
}

bool IsBundlePage(const std::wstring& url, const std::wstring& folder) {
  const std::wstring base = NormalFolder(folder);
  std::wstring path;
  if (base.empty() || !LocalPath(url, &path) || path.size() <= base.size()) return false;
  for (size_t i = 0; i < base.size(); ++i) {
    if (FoldAscii(path[i]) != FoldAscii(base[i])) return false;
  }
  return true;
}

NavigationVerdict ClassifyNavigation(const std::wstring& url, const std::wstring& folder) {
  if (IsBundlePage(url, folder)) return NavigationVerdict::kLoadInPlace;
  if (IsWebAddress(url)) return NavigationVerdict::kOpenInBrowser;
  return NavigationVerdict::kRefuse;
}

}  // namespace stubframework::htmlui
