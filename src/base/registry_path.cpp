#include "base/registry_path.h"

namespace stubframework::base {

namespace {

struct RootName {
  const wchar_t* long_name;
  const wchar_t* short_name;
  HKEY root;
};

const RootName kRoots[] = {
    {L"HKEY_LOCAL_MACHINE", L"HKLM", HKEY_LOCAL_MACHINE},
    {L"HKEY_CURRENT_USER", L"HKCU", HKEY_CURRENT_USER},
    {L"HKEY_CURRENT_CONFIG", L"HKCC", HKEY_CURRENT_CONFIG},
    {L"HKEY_USERS", L"HKU", HKEY_USERS},
    {L"HKEY_CLASSES_ROOT", L"HKCR", HKEY_CLASSES_ROOT},
    {L"HKEY_DTN_DATA", L"HKDD", HKEY_DYN_DATA},
};

}  // namespace

HKEY RegistryRootFromName(const std::wstring& name) {
  for (const RootName& r : kRoots) {
    if (_wcsicmp(name.c_str(), r.long_name) == 0 || _wcsicmp(name.c_str(), r.short_name) == 0) return r.root;
  }
  return nullptr;
}

RegistryPath ParseRegistryPath(const std::wstring& path) {
  // Without a backslash the whole text is both the root name and the subkey:
  // "HKCU" alone addresses a subkey named HKCU under HKEY_CURRENT_USER.
  RegistryPath result;
  size_t slash = path.find(L'\\');
  result.root = RegistryRootFromName(path.substr(0, slash));
  result.subkey = slash == std::wstring::npos || result.root == nullptr ? path : path.substr(slash + 1);
  return result;
}

}  // namespace stubframework::base
