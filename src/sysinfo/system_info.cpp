#include "sysinfo/system_info.h"

#include "base/wide_format.h"

namespace stubframework::sysinfo {

namespace {

const wchar_t kOther[] = L"Other";

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

std::wstring SystemName(const FactSource& facts) {
  ReportedVersion v;
  if (!facts.Reported(&v)) return kOther;
  return SystemNameFor(v.major, v.minor, v.product_type, facts.NativeArchitecture());
}

std::wstring ArchitectureTextFor(WORD native_architecture) {
  return native_architecture == PROCESSOR_ARCHITECTURE_AMD64 || native_architecture == PROCESSOR_ARCHITECTURE_IA64
             ? L"x64"
             : L"x86";
}

std::wstring ArchitectureText(const FactSource& facts) { return ArchitectureTextFor(facts.NativeArchitecture()); }

std::wstring DefaultBrowser(const FactSource& facts) {
  // The machine-wide key counts only when the user's own key cannot be opened.
  RegistryText value = facts.ReadText(HKEY_CURRENT_USER, L"Software\\Clients\\StartMenuInternet", nullptr);
  if (!value.key_opened) value = facts.ReadText(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Clients\\StartMenuInternet", nullptr);
  return value.value_read ? value.text : kOther;
}

std::wstring CountryIdText(const FactSource& facts) {
  return base::Format(L"%d", static_cast<int>(facts.UserGeoNation()));
}

std::wstring FormatTimestamp(const SYSTEMTIME& t) {
  return base::Format(L"%4d%02d%02d%02d%02d%02d", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond);
}

std::wstring FormatTimestampWithMilliseconds(const SYSTEMTIME& t) {
  return base::Format(L"%4d%02d%02d%02d%02d%02d%3d", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond,
                       t.wMilliseconds);
}

std::wstring Timestamp(const FactSource& facts) { return FormatTimestamp(facts.UtcNow()); }

std::wstring TimestampWithMilliseconds(const FactSource& facts) {
  return FormatTimestampWithMilliseconds(facts.UtcNow());
}

}  // namespace stubframework::sysinfo
