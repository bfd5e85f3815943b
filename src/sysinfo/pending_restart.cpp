#include "sysinfo/pending_restart.h"

namespace stubframework::sysinfo {

bool IsRestartPending(const FactSource& facts) {
  RegistryText value = facts.ReadText(HKEY_CURRENT_USER, kPendingRestartKey, kPendingRestartValue);
  return value.value_read && value.text == L"1";
}

bool RemovePendingRestart() {
  HKEY key = nullptr;
  if (::RegOpenKeyExW(HKEY_CURRENT_USER, kPendingRestartKey, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return false;
  bool removed = ::RegQueryValueExW(key, kPendingRestartValue, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS &&
                 ::RegDeleteValueW(key, kPendingRestartValue) == ERROR_SUCCESS;
  // Closed by hand: its result counts.
  bool closed = ::RegCloseKey(key) == ERROR_SUCCESS;
  return removed && closed;
}

}  // namespace stubframework::sysinfo
