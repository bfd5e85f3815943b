#include "app/settings_store.h"

#include <windows.h>

#include "app/registry_path.h"
#include "app/unique_handle.h"
#include "app/wide_format.h"

namespace stubframework::core {

namespace {

constexpr DWORD kSettingBufferBytes = 520;

bool ReadInView(const utils::RegistryPath& path, const std::wstring& name, REGSAM view, std::wstring& value) {
  utils::UniqueHKey key;
  if (::RegOpenKeyExW(path.root, path.subkey.c_str(), 0, KEY_READ | view, key.Receive()) != ERROR_SUCCESS) {
    return false;
  }
  // One extra character keeps a value stored without its terminator readable.
  wchar_t buffer[kSettingBufferBytes / sizeof(wchar_t) + 1] = {};
  DWORD type = 0;
  DWORD size = kSettingBufferBytes;
  if (::RegQueryValueExW(key.Get(), name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) !=
      ERROR_SUCCESS) {
    return false;
  }
  if (type == REG_DWORD && size >= sizeof(DWORD)) {
    value = utils::Format(L"%d", *reinterpret_cast<const DWORD*>(buffer));
  } else {
    value.assign(buffer, wcsnlen(buffer, size / sizeof(wchar_t)));
  }
  return true;
}

}  // namespace

bool ReadSetting(const std::wstring& key_path, const std::wstring& name, std::wstring& value) {
  utils::RegistryPath path = utils::ParseRegistryPath(key_path);
  if (path.root == nullptr) return false;
  return ReadInView(path, name, KEY_WOW64_64KEY, value) || ReadInView(path, name, KEY_WOW64_32KEY, value);
}

bool WriteSetting(const std::wstring& key_path, const std::wstring& name, const std::wstring& value, bool view64) {
  utils::RegistryPath path = utils::ParseRegistryPath(key_path);
  if (path.root == nullptr) return false;
  utils::UniqueHKey key;
  REGSAM access = KEY_ALL_ACCESS | (view64 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY);
  if (::RegCreateKeyExW(path.root, path.subkey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, access, nullptr,
                        key.Receive(), nullptr) != ERROR_SUCCESS) {
    return false;
  }
  DWORD bytes = static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t));
  return ::RegSetValueExW(key.Get(), name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          bytes) == ERROR_SUCCESS;
}

}  // namespace stubframework::core
