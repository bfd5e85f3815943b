// Descriptive texts about the machine that settings and reports carry.
#pragma once

#include <windows.h>

#include <string>

#include "sysinfo/fact_source.h"

namespace stubframework::sysinfo {

// System name from the version the program is told (GetVersionExW); "Other"
// when that fails or no rule applies.
std::wstring SystemName(const FactSource& facts = WindowsFacts());
// The naming rule itself: major/minor version, product type and the native
// processor architecture.
std::wstring SystemNameFor(DWORD major, DWORD minor, BYTE product_type, WORD native_architecture);

// "x64" for an AMD64 or IA64 system, else "x86".
std::wstring ArchitectureText(const FactSource& facts = WindowsFacts());
std::wstring ArchitectureTextFor(WORD native_architecture);

// The registered default browser (the user's, else the machine's when the
// user has no key), or "Other".
std::wstring DefaultBrowser(const FactSource& facts = WindowsFacts());

// GetUserGeoID(GEOCLASS_NATION) as signed decimal.
std::wstring CountryIdText(const FactSource& facts = WindowsFacts());

// UTC "YYYYMMDDhhmmss", and the same followed by milliseconds right-aligned
// in three places ("20240131235959  7").
std::wstring Timestamp(const FactSource& facts = WindowsFacts());
std::wstring TimestampWithMilliseconds(const FactSource& facts = WindowsFacts());
std::wstring FormatTimestamp(const SYSTEMTIME& utc);
std::wstring FormatTimestampWithMilliseconds(const SYSTEMTIME& utc);

}  // namespace stubframework::sysinfo
