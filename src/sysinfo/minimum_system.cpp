#include "sysinfo/minimum_system.h"

#include "sysinfo/installed_software.h"
#include "sysinfo/windows_version.h"

namespace stubframework::sysinfo {

namespace {

constexpr int kMinimumScreenWidth = 1280;
constexpr unsigned long long kMinimumMemoryMiB = 8000;
constexpr int kMinimumExplorerVersion = 11;

}  // namespace

bool IsLowResolution(const FactSource& facts) { return facts.ScreenWidth() < kMinimumScreenWidth; }

std::wstring MinimumSystemFlags(const FactSource& facts) {
  std::wstring flags;
  if (IsLowResolution(facts)) flags += L"LOWRES";
  if ((facts.PhysicalMemoryBytes() >> 20) < kMinimumMemoryMiB) flags += L"|LOWMEM";
  if (InternetExplorerMajorVersion(facts) < kMinimumExplorerVersion) flags += L"|IELT11";
  if (!IsSupportedWindows10Build(facts)) flags += L"|WIN8";
  return flags;
}

}  // namespace stubframework::sysinfo
