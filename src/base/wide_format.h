// printf-style formatting of wide text with the Windows meaning of the
// conversions: in a wide format "%s" takes a wide string.
#pragma once

#include <cstdarg>
#include <string>

namespace stubframework::base {

std::wstring FormatV(const wchar_t* format, va_list args);
std::wstring Format(const wchar_t* format, ...);

// The format with a precision of `max_chars` on every text conversion ("%s",
// "%S", with any flags, width and size prefix) that has none, so that no text
// argument yields more than `max_chars` characters; everything else as it was.
std::wstring LimitTextConversions(const wchar_t* format, int max_chars);

// Wide text to narrow text in the ANSI code page (log files, ANSI APIs).
std::string ToAnsi(const std::wstring& text);
// UTF-8 for bodies and headers sent over the network.
std::string ToUtf8(const std::wstring& text);
std::wstring FromUtf8(const std::string& text);

}  // namespace stubframework::base
