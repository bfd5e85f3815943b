#include "externalmethods/os_requirement.h"

namespace stubframework::externalmethods {

namespace {

struct NamedVersion {
  const wchar_t* name;
  RequiredVersion version;
};

const NamedVersion kNamedVersions[] = {
    {L"Windows XP", {5, 1}},    {L"Windows Vista", {6, 0}}, {L"Windows 7", {6, 1}},  {L"Windows 7 SP1", {6, 1}},
    {L"Windows 8", {6, 2}},     {L"Windows 8.1", {6, 3}},   {L"Windows 10", {10, 0}},
};

constexpr RequiredVersion kUnknownNameRequires = {6, 1};

bool EqualsNoCase(const std::wstring& text, const wchar_t* word) {
  return text.size() == wcslen(word) && _wcsnicmp(text.c_str(), word, text.size()) == 0;
}

}  // namespace

RequiredVersion RequiredVersionFor(const std::wstring& minimum) {
  for (const NamedVersion& named : kNamedVersions) {
    if (minimum == named.name) return named.version;
  }
  return kUnknownNameRequires;
}

bool MeetsVersion(const sysinfo::VersionNumbers& system, RequiredVersion required) {
  return system.major > required.major || (system.major == required.major && system.minor >= required.minor);
}

bool LacksRequiredBits(const std::wstring& required, const std::wstring& machine) {
  return EqualsNoCase(required, L"x64") && EqualsNoCase(machine, L"x86");
}

}  // namespace stubframework::externalmethods
