#include "sysinfo/system_info.h"

#include "base/unique_handle.h"
#include "base/wide_format.h"

namespace stubframework::sysinfo {

namespace {

const wchar_t kOther[] = L"Other";
constexpr DWORD kBrowserBufferBytes = 520;

// Whether the key opened; `value` changes only when its default value was read.
bool ReadDefaultValue(HKEY root, const wchar_t* subkey, std::wstring& value) {
  base::UniqueHKey key;
  if (::RegOpenKeyExW(root, subkey, 0, KEY_READ, key.Receive()) != ERROR_SUCCESS) return false;
  wchar_t buffer[kBrowserBufferBytes / sizeof(wchar_t) + 1] = {};
  DWORD size = kBrowserBufferBytes;
  if (::RegQueryValueExW(key.Get(), nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &size) !=
      ERROR_SUCCESS) {
    return true;  // the key opened: its value decides, and there is none
  }
  value.assign(buffer, wcsnlen(buffer, size / sizeof(wchar_t)));
  return true;
}

}  // namespace

std::wstring SystemNameFor(DWORD major, DWORD minor, BYTE product_type, WORD native_architecture) {
  if (major == 5 && minor == 1) return L"Windows XP";
  if (major == 5 && minor == 2) {
    bool xp64 = product_type == VER_NT_WORKSTATION && native_architecture == PROCESSOR_ARCHITECTURE_AMD64;
    return xp64 ? L"Windows XP" : kOther;
  }
  if (product_type != VER_NT_WORKSTATION) return kOther;
  if (major == 6) {
    switch (minor) {
      case 0: return L"Windows Vista";
      case 1: return L"Windows 7";
      case 2:
      case 3: return L"Windows 8";
      case 4: return L"Windows 10";
      default: return kOther;
    }
  }
  if (major == 10) return L"Windows 10";
  return kOther;
}

std::wstring SystemName() {
  OSVERSIONINFOEXW info = {};
  info.dwOSVersionInfoSize = sizeof(info);
  if (!::GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&info))) return kOther;
  SYSTEM_INFO system = {};
  ::GetNativeSystemInfo(&system);
  return SystemNameFor(info.dwMajorVersion, info.dwMinorVersion, info.wProductType,
                       system.wProcessorArchitecture);
}

std::wstring ArchitectureTextFor(WORD native_architecture) {
  return native_architecture == PROCESSOR_ARCHITECTURE_AMD64 || native_architecture == PROCESSOR_ARCHITECTURE_IA64
             ? L"x64"
             : L"x86";
}

std::wstring ArchitectureText() {
  SYSTEM_INFO system = {};
  ::GetNativeSystemInfo(&system);
  return ArchitectureTextFor(system.wProcessorArchitecture);
}

std::wstring DefaultBrowser() {
  std::wstring value = kOther;
  // The machine-wide key counts only when the user's own key cannot be opened.
  if (!ReadDefaultValue(HKEY_CURRENT_USER, L"Software\\Clients\\StartMenuInternet", value)) {
    ReadDefaultValue(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Clients\\StartMenuInternet", value);
  }
  return value;
}

std::wstring CountryIdText() { return base::Format(L"%d", static_cast<int>(::GetUserGeoID(GEOCLASS_NATION))); }

std::wstring Timestamp() {
  SYSTEMTIME t;
  ::GetSystemTime(&t);
  return base::Format(L"%4d%02d%02d%02d%02d%02d", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond);
}

std::wstring TimestampWithMilliseconds() {
  SYSTEMTIME t;
  ::GetSystemTime(&t);
  return base::Format(L"%4d%02d%02d%02d%02d%02d%3d", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond,
                       t.wMilliseconds);
}

}  // namespace stubframework::sysinfo
