// UTF-16 text of the Windows side to and from the UTF-8 of the JSON messages.
#pragma once

#include <string>

#include "browserhost/json_escapes.h"

namespace stubframework::browserhost {

// Unpaired surrogates become U+FFFD.
std::string ToUtf8(const std::wstring& text);
// Invalid sequences become U+FFFD.
std::wstring FromUtf8(const std::string& text);

}  // namespace stubframework::browserhost
