// UTF-16 text of the Windows side to and from the UTF-8 of the JSON messages.
#pragma once

#include <string>

namespace stubframework::browserhost {

// Unpaired surrogates become U+FFFD.
std::string ToUtf8(const std::wstring& text);
// Invalid sequences become U+FFFD.
std::wstring FromUtf8(const std::string& text);

// False when the text holds a surrogate that is not half of a pair: such text
// (a script string may be any sequence of code units) has no UTF-8 form.
bool IsWellFormedUtf16(const std::wstring& text);

// JSON text in which every \uXXXX escape of an unpaired surrogate is
// \ufffd: JSON allows such escapes, the parser of the messages does not.
std::string ReplaceLoneSurrogateEscapes(const std::string& json_text);

}  // namespace stubframework::browserhost
