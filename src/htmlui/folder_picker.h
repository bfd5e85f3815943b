// The system folder picker, owned by a window.
#pragma once

#include <windows.h>

#include <string>

namespace stubframework::htmlui {

// The file-open dialog in folder mode, starting in `initial` when that names a
// folder; on systems without it, the classic folder browser. Returns the
// chosen folder, or `initial` unchanged when the user cancelled or the picker
// failed.
std::wstring PickFolderDialog(HWND owner, const std::wstring& initial);

}  // namespace stubframework::htmlui
