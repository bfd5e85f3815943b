// Opens a file or address as the interactive user: the desktop shell starts
// it, so the installer's elevated token is not handed on. Where the desktop
// shell cannot be reached, the installer starts it itself.
#pragma once

#include <windows.h>

#include <string>

namespace stubframework::externalmethods {

// Zero or positive on success; a failure code otherwise.
HRESULT ShellLaunch(const std::wstring& file, const std::wstring& parameters);

}  // namespace stubframework::externalmethods
