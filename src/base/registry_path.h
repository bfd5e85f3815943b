// Registry paths as one text: "<root>\<subkey>", with the root named long or
// short ("HKEY_CURRENT_USER" or "HKCU"), compared without regard to case.
#pragma once

#include <windows.h>

#include <string>

namespace stubframework::base {

struct RegistryPath {
  HKEY root = nullptr;  // null when the root name is not recognised
  std::wstring subkey;  // the text after the first backslash; the whole text without one
};

// Root handle for a root name, or null.
HKEY RegistryRootFromName(const std::wstring& name);
RegistryPath ParseRegistryPath(const std::wstring& path);

}  // namespace stubframework::base
