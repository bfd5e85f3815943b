// The rule behind checkOS: a named minimum Windows version and a required
// architecture against the running system.
#pragma once

#include <windows.h>

#include <string>

#include "sysinfo/fact_source.h"

namespace stubframework::externalmethods {

struct RequiredVersion {
  DWORD major;
  DWORD minor;
};

// "Windows XP" 5.1, "Windows Vista" 6.0, "Windows 7" and "Windows 7 SP1" 6.1,
// "Windows 8" 6.2, "Windows 8.1" 6.3, "Windows 10" 10.0, compared exactly;
// any other name requires 6.1.
RequiredVersion RequiredVersionFor(const std::wstring& minimum);

// A greater major version, or the same major with a minor not below.
bool MeetsVersion(const sysinfo::VersionNumbers& system, RequiredVersion required);

// A 64-bit requirement ("x64", any case) on a machine whose architecture text
// is "x86" (any case).
bool LacksRequiredBits(const std::wstring& required, const std::wstring& machine);

}  // namespace stubframework::externalmethods
