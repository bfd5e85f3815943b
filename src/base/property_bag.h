// The run-time state shared by page script and native code: named text values.
#pragma once

#include <map>
#include <string>

#include "base/critical_section.h"

namespace stubframework::base {

// Ordered by plain ordinal comparison, so names are case-sensitive. Reading an
// absent name inserts it empty. Not locked: only the main thread uses these
// operations directly, before the window exists and after it has closed.
class PropertyBag {
 public:
  using Map = std::map<std::wstring, std::wstring>;

  const std::wstring& Get(const std::wstring& name) { return values_[name]; }
  void Set(const std::wstring& name, const std::wstring& value) { values_[name] = value; }
  const Map& entries() const { return values_; }

 private:
  Map values_;
};

// Names of the progress counters.
extern const wchar_t kDownloadTotal[];
extern const wchar_t kDownloadCurrent[];
extern const wchar_t kInstallTotal[];
extern const wchar_t kInstallCurrent[];

// The locked operations that script methods and worker threads use. The lock
// is the method table's: every access from script or a worker takes it.
class LockedProperties {
 public:
  LockedProperties(PropertyBag& bag, base::CriticalSection& lock) : bag_(bag), lock_(lock) {}

  void SetProperty(const std::wstring& name, const std::wstring& value);
  // A copy taken under the lock; inserts the name empty when absent.
  std::wstring GetProperty(const std::wstring& name);
  PropertyBag::Map Snapshot();

  void SetDownloadTotal(unsigned long value) { SetNumber(kDownloadTotal, value); }
  void SetDownloadCurrent(unsigned long value) { SetNumber(kDownloadCurrent, value); }
  void SetInstallTotal(unsigned long value) { SetNumber(kInstallTotal, value); }
  void SetInstallCurrent(unsigned long value) { SetNumber(kInstallCurrent, value); }
  long GetDownloadTotal() { return GetNumber(kDownloadTotal); }
  long GetDownloadCurrent() { return GetNumber(kDownloadCurrent); }
  long GetInstallTotal() { return GetNumber(kInstallTotal); }
  long GetInstallCurrent() { return GetNumber(kInstallCurrent); }

  base::CriticalSection& lock() { return lock_; }

 private:
  void SetNumber(const wchar_t* name, unsigned long value);
  long GetNumber(const wchar_t* name);

  PropertyBag& bag_;
  base::CriticalSection& lock_;
};

}  // namespace stubframework::base
