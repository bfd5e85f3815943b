// Stateless answers about the machine that settings and reports carry.
#pragma once

#include <windows.h>

#include <string>

namespace stubframework::sysinfo {

// System name from the version the program is told (GetVersionExW).
std::wstring SystemName();
// The naming rule itself: major/minor version, product type and the native
// processor architecture.
std::wstring SystemNameFor(DWORD major, DWORD minor, BYTE product_type, WORD native_architecture);

// "x64" for an AMD64 or IA64 system, else "x86".
std::wstring ArchitectureText();
std::wstring ArchitectureTextFor(WORD native_architecture);

// The registered default browser, or "Other".
std::wstring DefaultBrowser();

// GetUserGeoID(GEOCLASS_NATION) as signed decimal.
std::wstring CountryIdText();

// UTC "YYYYMMDDhhmmss", and the same followed by milliseconds in three places.
std::wstring Timestamp();
std::wstring TimestampWithMilliseconds();

}  // namespace stubframework::sysinfo
