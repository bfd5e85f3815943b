#include "workflow/pending_restart.h"

#include <windows.h>

#include <cwchar>

#include "base/unique_handle.h"

namespace stubframework::workflow {

bool IsRestartPending() {
  base::UniqueHKey key;
  if (::RegOpenKeyExW(HKEY_CURRENT_USER, kPendingRestartKey, 0, KEY_READ, key.Receive()) != ERROR_SUCCESS) {
    return false;
  }
  // Room for "1" and its terminator; anything longer is not "1".
  wchar_t data[4] = {};
  DWORD type = 0;
  DWORD bytes = sizeof(data) - sizeof(wchar_t);
  if (::RegQueryValueExW(key.Get(), kPendingRestartValue, nullptr, &type, reinterpret_cast<BYTE*>(data), &bytes) !=
          ERROR_SUCCESS ||
      (type != REG_SZ && type != REG_EXPAND_SZ)) {
    return false;
  }
  return wcsnlen(data, bytes / sizeof(wchar_t)) == 1 && data[0] == L'1';
}

bool RemovePendingRestart() {
  base::UniqueHKey key;
  if (::RegOpenKeyExW(HKEY_CURRENT_USER, kPendingRestartKey, 0, KEY_ALL_ACCESS, key.Receive()) != ERROR_SUCCESS) {
    return false;
  }
  bool removed =
      ::RegQueryValueExW(key.Get(), kPendingRestartValue, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS &&
      ::RegDeleteValueW(key.Get(), kPendingRestartValue) == ERROR_SUCCESS;
  // Closed here rather than by the owner: the close is part of the answer.
  return ::RegCloseKey(key.Release()) == ERROR_SUCCESS && removed;
}

}  // namespace stubframework::workflow
