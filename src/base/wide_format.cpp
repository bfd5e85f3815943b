#include "base/wide_format.h"

#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <vector>

namespace stubframework::base {

std::wstring FormatV(const wchar_t* format, va_list args) {
  // The runtime's own _vsnwprintf keeps the Windows conversions; the C99
  // wide printf of the mingw compatibility layer would read "%s" as narrow.
  va_list count_args;
  va_copy(count_args, args);
  int length = _vscwprintf(format, count_args);
  va_end(count_args);
  if (length <= 0) return std::wstring();
  std::vector<wchar_t> buffer(static_cast<size_t>(length) + 1);
  int written = _vsnwprintf(buffer.data(), buffer.size(), format, args);
  if (written < 0) return std::wstring();
  return std::wstring(buffer.data(), static_cast<size_t>(written));
}

std::wstring Format(const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  std::wstring text = FormatV(format, args);
  va_end(args);
  return text;
}

std::wstring LimitTextConversions(const wchar_t* format, int max_chars) {
  // std::to_wstring formats through the C99 wide printf; the narrow one does not.
  const std::string digits = std::to_string(max_chars);
  const std::wstring precision = L"." + std::wstring(digits.begin(), digits.end());
  std::wstring out;
  const wchar_t* p = format;
  while (*p != L'\0') {
    if (*p != L'%') {
      out.push_back(*p++);
      continue;
    }
    out.push_back(*p++);
    if (*p == L'%') {
      out.push_back(*p++);
      continue;
    }
    while (*p != L'\0' && wcschr(L"-+ #0", *p) != nullptr) out.push_back(*p++);
    while (*p == L'*' || (*p >= L'0' && *p <= L'9')) out.push_back(*p++);
    const bool has_precision = *p == L'.';
    if (has_precision) {
      out.push_back(*p++);
      while (*p == L'*' || (*p >= L'0' && *p <= L'9')) out.push_back(*p++);
    }
    const wchar_t* size_prefix = p;
    while (*p != L'\0' && wcschr(L"hlLwIjzt3264", *p) != nullptr) ++p;
    if (!has_precision && (*p == L's' || *p == L'S')) out += precision;
    out.append(size_prefix, p);
  }
  return out;
}

namespace {

std::string FromWide(UINT code_page, const std::wstring& text) {
  if (text.empty()) return std::string();
  int size = ::WideCharToMultiByte(code_page, 0, text.data(), static_cast<int>(text.size()),
                                   nullptr, 0, nullptr, nullptr);
  if (size <= 0) return std::string();
  std::string out(static_cast<size_t>(size), '\0');
  ::WideCharToMultiByte(code_page, 0, text.data(), static_cast<int>(text.size()), out.data(), size,
                        nullptr, nullptr);
  return out;
}

}  // namespace

std::string ToAnsi(const std::wstring& text) { return FromWide(CP_ACP, text); }
std::string ToUtf8(const std::wstring& text) { return FromWide(CP_UTF8, text); }

std::wstring FromUtf8(const std::string& text) {
  if (text.empty()) return std::wstring();
  int size = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (size <= 0) return std::wstring();
  std::wstring out(static_cast<size_t>(size), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size);
  return out;
}

}  // namespace stubframework::base
