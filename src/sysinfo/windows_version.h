// Which Windows generation and build the machine runs, from its true version
// (RtlGetVersion), as the pages and the minimum-system check ask it.
#pragma once

#include <string>

#include "sysinfo/fact_source.h"

namespace stubframework::sysinfo {

// "7", "7.1", "8", "8.1", "10", "10.0" or "10.18363"; "10" when the true
// version cannot be read.
std::wstring SystemLabel(const FactSource& facts = WindowsFacts());

// The major version is 10.
bool IsWindows10(const FactSource& facts = WindowsFacts());

// False only for Windows 10 builds below 19042 other than 17763 and 14393.
bool IsLaterThanEarlyWindows10(const FactSource& facts = WindowsFacts());

// A Windows 10 build the product supports: 19042 and later, 17763 or 14393,
// or any later major version.
bool IsSupportedWindows10Build(const FactSource& facts = WindowsFacts());

// "<major>.<build>", for example "10.19045"; "10" when the version cannot be read.
std::wstring UrlSystemVersion(const FactSource& facts = WindowsFacts());

}  // namespace stubframework::sysinfo
