#include "downloader/redirects.h"

#include <cwctype>

namespace stubframework::downloader {
namespace {

bool StartsWithNoCase(const std::wstring& text, const wchar_t* prefix) {
  for (size_t i = 0; prefix[i] != L'\0'; ++i) {
    if (i >= text.size() || towlower(text[i]) != prefix[i]) return false;
  }
  return true;
}

}  // namespace

bool IsSecurityDowngrade(const std::wstring& from, const std::wstring& to) {
  return StartsWithNoCase(from, L"https:") && !StartsWithNoCase(to, L"https:");
}

}  // namespace stubframework::downloader
