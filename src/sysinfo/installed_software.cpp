#include "sysinfo/installed_software.h"

#include <cwchar>

namespace stubframework::sysinfo {

namespace {

const wchar_t kExplorerKey[] = L"SOFTWARE\\Microsoft\\Internet Explorer";
const wchar_t* const kExplorerVersionValues[] = {L"svcUpdateVersion", L"svcVersion", L"Version"};
constexpr int kUnknownExplorerVersion = 9;

const wchar_t kNet4ClientKey[] = L"SOFTWARE\\Microsoft\\NET Framework Setup\\NDP\\v4\\Client";
// The last release number before .NET Framework 4.6.
constexpr DWORD kLastReleaseBefore46 = 393294;

}  // namespace

int InternetExplorerMajorVersion(const FactSource& facts) {
  for (const wchar_t* name : kExplorerVersionValues) {
    RegistryText value = facts.ReadText(HKEY_LOCAL_MACHINE, kExplorerKey, name);
    if (!value.key_opened) return kUnknownExplorerVersion;
    if (!value.value_read) continue;
    // The digits before the first ".", as _wtoi reads them.
    return _wtoi(value.text.substr(0, value.text.find(L'.')).c_str());
  }
  return kUnknownExplorerVersion;
}

bool IsNet46Installed(const FactSource& facts) {
  DWORD release = 0;
  return facts.ReadDword(HKEY_LOCAL_MACHINE, kNet4ClientKey, L"Release", &release) && release > kLastReleaseBefore46;
}

}  // namespace stubframework::sysinfo
