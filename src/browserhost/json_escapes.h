// Text checks of the browser host's messages that need no Windows headers
// (they also build natively, for fuzzing).
#pragma once

#include <string>

namespace stubframework::browserhost {

// False when the text holds a surrogate that is not half of a pair: such text
// (a script string may be any sequence of code units) has no UTF-8 form.
bool IsWellFormedUtf16(const std::wstring& text);

// JSON text in which every \uXXXX escape of an unpaired surrogate is
// \ufffd: JSON allows such escapes, the parser of the messages does not.
std::string ReplaceLoneSurrogateEscapes(const std::string& json_text);

}  // namespace stubframework::browserhost
