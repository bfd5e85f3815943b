// The words the analytics document carries for each install status.
#pragma once

namespace stubframework::telemetry {

// "started", "completed", ... "remove canceled"; empty text for a code that
// has no word.
const wchar_t* StatusWord(int status);

}  // namespace stubframework::telemetry
