// Script methods about files, folders and disks. Sizes and checksums go back
// to the page as unsigned decimal text; a file that cannot be read gives "0".
#pragma once

#include <windows.h>

#include <string>

namespace stubframework::externalmethods {

class ExternalMethods;
class ScriptCall;

HRESULT IsFileExistsMethod(ExternalMethods& methods, ScriptCall& call);
// isDestReadOnly(folder): whether a folder cannot be made inside `folder`.
HRESULT IsDestReadOnlyMethod(ExternalMethods& methods, ScriptCall& call);
HRESULT CreateDirectoryMethod(ExternalMethods& methods, ScriptCall& call);
HRESULT GetDiskAvailableSpaceMethod(ExternalMethods& methods, ScriptCall& call);
HRESULT GetFileSizeMethod(ExternalMethods& methods, ScriptCall& call);
HRESULT GetCrcMethod(ExternalMethods& methods, ScriptCall& call);
// getFileVersion(extension, file): a package's ProductVersion or an
// executable's file version.
HRESULT GetFileVersionMethod(ExternalMethods& methods, ScriptCall& call);

// A path in the device namespace ("\\.\PhysicalDrive0", "\\?\Volume{...}",
// "\\?\GLOBALROOT\..."): the file readers open none of them. "\\?\C:\..." and
// "\\?\UNC\..." are ordinary long paths.
bool IsDevicePath(const std::wstring& path);

}  // namespace stubframework::externalmethods
