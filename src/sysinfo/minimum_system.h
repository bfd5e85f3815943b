// The product's minimum system: screen, memory, browser and Windows build.
#pragma once

#include <string>

#include "sysinfo/fact_source.h"

namespace stubframework::sysinfo {

// The primary screen is narrower than 1280 pixels.
bool IsLowResolution(const FactSource& facts = WindowsFacts());

// What the machine lacks, as "LOWRES", "|LOWMEM", "|IELT11" and "|WIN8" in
// this order, each with its fixed separator (so a machine lacking only memory
// gives "|LOWMEM"); empty when nothing is lacking.
std::wstring MinimumSystemFlags(const FactSource& facts = WindowsFacts());

}  // namespace stubframework::sysinfo
