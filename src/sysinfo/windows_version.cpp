#include "sysinfo/windows_version.h"

#include "base/wide_format.h"

namespace stubframework::sysinfo {

namespace {

// The two early Windows 10 releases that stay supported.
bool IsLongTermBuild(DWORD build) { return build == 17763 || build == 14393; }

constexpr DWORD kFirstLaterBuild = 19042;
constexpr DWORD kLastEarlyLabelBuild = 18362;

}  // namespace

std::wstring SystemLabel(const FactSource& facts) {
  VersionNumbers v;
  if (!facts.TrueVersion(&v)) return L"10";
  if (v.major == 6) {
    switch (v.minor) {
      case 1: return v.build > 7600 ? L"7.1" : L"7";
      case 2: return L"8";
      case 3: return L"8.1";
      default: return L"10";
    }
  }
  if (v.major == 10) {
    if (v.build > kLastEarlyLabelBuild) return L"10";
    if (IsLongTermBuild(v.build)) return L"10.0";
    return L"10.18363";
  }
  return L"10";
}

bool IsWindows10(const FactSource& facts) {
  VersionNumbers v;
  return facts.TrueVersion(&v) && v.major == 10;
}

bool IsLaterThanEarlyWindows10(const FactSource& facts) {
  VersionNumbers v;
  if (!facts.TrueVersion(&v)) return true;
  return !(v.major == 10 && v.build < kFirstLaterBuild && !IsLongTermBuild(v.build));
}

bool IsSupportedWindows10Build(const FactSource& facts) {
  VersionNumbers v;
  if (!facts.TrueVersion(&v)) return true;
  if (v.major < 10) return false;
  if (v.major > 10) return true;
  return v.build >= kFirstLaterBuild || IsLongTermBuild(v.build);
}

std::wstring UrlSystemVersion(const FactSource& facts) {
  VersionNumbers v;
  if (!facts.TrueVersion(&v)) return L"10";
  return base::Format(L"%lu.%lu", static_cast<unsigned long>(v.major), static_cast<unsigned long>(v.build));
}

}  // namespace stubframework::sysinfo
