// Where the system information routines read the machine: the raw facts, with
// no rules applied. The routines are pure functions over this source, so each
// rule can be run on any version, screen, memory size or registry content.
#pragma once

#include <windows.h>

#include <string>

namespace stubframework::sysinfo {

struct VersionNumbers {
  DWORD major = 0;
  DWORD minor = 0;
  DWORD build = 0;
};

// What GetVersionExW tells this process (compatibility settings may lower it).
struct ReportedVersion {
  DWORD major = 0;
  DWORD minor = 0;
  BYTE product_type = 0;  // VER_NT_WORKSTATION, ...
};

// One registry text value: whether its key opened and whether the value was read.
struct RegistryText {
  bool key_opened = false;
  bool value_read = false;
  std::wstring text;
};

class FactSource {
 public:
  // The true version (ntdll's RtlGetVersion); false when the routine cannot be found.
  virtual bool TrueVersion(VersionNumbers* version) const = 0;
  // GetVersionExW with the extended block; false when it fails.
  virtual bool Reported(ReportedVersion* version) const = 0;
  // The version fields of this process's environment block, which the
  // compatibility layer leaves alone; false when they cannot be read.
  virtual bool ProcessBlockVersion(VersionNumbers* version) const = 0;
  // GetNativeSystemInfo's processor architecture.
  virtual WORD NativeArchitecture() const = 0;
  // Width of the primary screen in pixels.
  virtual int ScreenWidth() const = 0;
  // Total physical memory in bytes; 0 when it cannot be read.
  virtual unsigned long long PhysicalMemoryBytes() const = 0;
  // A text value (REG_SZ or REG_EXPAND_SZ of at most kRegistryTextBytes);
  // `name` null reads the key's default value.
  virtual RegistryText ReadText(HKEY root, const wchar_t* subkey, const wchar_t* name) const = 0;
  // A REG_DWORD value; false when the key or the value cannot be read.
  virtual bool ReadDword(HKEY root, const wchar_t* subkey, const wchar_t* name, DWORD* value) const = 0;
  // GetUserGeoID(GEOCLASS_NATION).
  virtual long UserGeoNation() const = 0;
  // GetSystemTime.
  virtual SYSTEMTIME UtcNow() const = 0;

 protected:
  ~FactSource() = default;
};

// Registry texts are read into a buffer of this many bytes; longer values are not read.
inline constexpr DWORD kRegistryTextBytes = 520;

// The running machine.
class WindowsFacts final : public FactSource {
 public:
  bool TrueVersion(VersionNumbers* version) const override;
  bool Reported(ReportedVersion* version) const override;
  bool ProcessBlockVersion(VersionNumbers* version) const override;
  WORD NativeArchitecture() const override;
  int ScreenWidth() const override;
  unsigned long long PhysicalMemoryBytes() const override;
  RegistryText ReadText(HKEY root, const wchar_t* subkey, const wchar_t* name) const override;
  bool ReadDword(HKEY root, const wchar_t* subkey, const wchar_t* name, DWORD* value) const override;
  long UserGeoNation() const override;
  SYSTEMTIME UtcNow() const override;
};

}  // namespace stubframework::sysinfo
