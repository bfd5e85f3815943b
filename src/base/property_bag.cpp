#include "base/property_bag.h"

#include <cwchar>
#include <cstdlib>

#include "base/wide_format.h"

namespace stubframework::base {

const wchar_t kDownloadTotal[] = L"downloadTotal";
const wchar_t kDownloadCurrent[] = L"downloadCurrent";
const wchar_t kInstallTotal[] = L"installTotal";
const wchar_t kInstallCurrent[] = L"installCurrent";

void LockedProperties::SetProperty(const std::wstring& name, const std::wstring& value) {
  base::ScopedLock hold(lock_);
  bag_.Set(name, value);
}

std::wstring LockedProperties::GetProperty(const std::wstring& name) {
  base::ScopedLock hold(lock_);
  return bag_.Get(name);
}

PropertyBag::Map LockedProperties::Snapshot() {
  base::ScopedLock hold(lock_);
  return bag_.entries();
}

void LockedProperties::SetNumber(const wchar_t* name, unsigned long value) {
  SetProperty(name, base::Format(L"%lu", value));
}

long LockedProperties::GetNumber(const wchar_t* name) {
  // _wtol: leading digits count, anything else gives 0.
  return _wtol(GetProperty(name).c_str());
}

}  // namespace stubframework::base
