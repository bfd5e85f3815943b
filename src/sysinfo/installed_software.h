// Versions of the system components the product needs: Internet Explorer and
// the .NET Framework 4 release.
#pragma once

#include "sysinfo/fact_source.h"

namespace stubframework::sysinfo {

// The major version of Internet Explorer from its first version value that
// can be read ("svcUpdateVersion", "svcVersion", then "Version"); 9 when none can.
int InternetExplorerMajorVersion(const FactSource& facts = WindowsFacts());

// .NET Framework 4.6 or later: the v4 client "Release" number is above 393294.
bool IsNet46Installed(const FactSource& facts = WindowsFacts());

}  // namespace stubframework::sysinfo
