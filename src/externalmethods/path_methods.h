// Script methods that name folders: the stub's, the desktop, and a folder of
// the user's temporary folder.
#pragma once

#include <windows.h>

#include <string>

namespace stubframework::externalmethods {

class ExternalMethods;
class ScriptCall;

// getCurrentPath(): the folder of the stub the user started, else of this program.
HRESULT GetCurrentPathMethod(ExternalMethods& methods, ScriptCall& call);
HRESULT GetDesktopPathMethod(ExternalMethods& methods, ScriptCall& call);
// getTempPath(name): "<temp>\<name>\", created; the product name when empty.
HRESULT GetTempPathMethod(ExternalMethods& methods, ScriptCall& call);

// The current user's desktop folder; empty when it cannot be found.
std::wstring DesktopFolder();

// The text before the last backslash; empty without one.
std::wstring FolderOf(const std::wstring& path);

}  // namespace stubframework::externalmethods
