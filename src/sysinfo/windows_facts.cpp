#include <windows.h>
#include <winternl.h>

#include <cstddef>
#include <cwchar>

#include "base/unique_handle.h"
#include "sysinfo/fact_source.h"

namespace stubframework::sysinfo {

namespace {

// The extended version block; the true-version routine is given this size.
constexpr DWORD kVersionBlockBytes = 284;
static_assert(sizeof(OSVERSIONINFOEXW) == kVersionBlockBytes, "version block size");

using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOEXW*);
using NtQueryInformationProcessFn = LONG(WINAPI*)(HANDLE, PROCESSINFOCLASS, PVOID, ULONG, PULONG);

// Through void*: the routine's real type is the caller's.
void* NtdllRoutine(const char* name) {
  HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  return ntdll == nullptr ? nullptr : reinterpret_cast<void*>(::GetProcAddress(ntdll, name));
}

// Offset of OSMajorVersion in the environment block; OSMinorVersion (DWORD)
// and OSBuildNumber (WORD) follow it.
constexpr size_t kPebVersionOffset = sizeof(void*) == 8 ? 0x118 : 0xA4;

struct PebVersionFields {
  ULONG major;
  ULONG minor;
  USHORT build;
};

}  // namespace

bool WindowsFacts::TrueVersion(VersionNumbers* version) const {
  auto rtl_get_version = reinterpret_cast<RtlGetVersionFn>(NtdllRoutine("RtlGetVersion"));
  if (rtl_get_version == nullptr) return false;
  OSVERSIONINFOEXW info = {};
  info.dwOSVersionInfoSize = kVersionBlockBytes;
  rtl_get_version(&info);
  version->major = info.dwMajorVersion;
  version->minor = info.dwMinorVersion;
  version->build = info.dwBuildNumber;
  return true;
}

bool WindowsFacts::Reported(ReportedVersion* version) const {
  OSVERSIONINFOEXW info = {};
  info.dwOSVersionInfoSize = kVersionBlockBytes;
  if (!::GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&info))) return false;
  version->major = info.dwMajorVersion;
  version->minor = info.dwMinorVersion;
  version->product_type = info.wProductType;
  return true;
}

bool WindowsFacts::ProcessBlockVersion(VersionNumbers* version) const {
  auto query = reinterpret_cast<NtQueryInformationProcessFn>(NtdllRoutine("NtQueryInformationProcess"));
  if (query == nullptr) return false;
  PROCESS_BASIC_INFORMATION basic = {};
  ULONG length = 0;
  if (query(::GetCurrentProcess(), ProcessBasicInformation, &basic, sizeof(basic), &length) < 0 ||
      basic.PebBaseAddress == nullptr) {
    return false;
  }
  PebVersionFields fields = {};
  SIZE_T read = 0;
  const BYTE* at = reinterpret_cast<const BYTE*>(basic.PebBaseAddress) + kPebVersionOffset;
  if (!::ReadProcessMemory(::GetCurrentProcess(), at, &fields, sizeof(fields), &read) || read != sizeof(fields)) {
    return false;
  }
  version->major = fields.major;
  version->minor = fields.minor;
  version->build = fields.build;
  return true;
}

WORD WindowsFacts::NativeArchitecture() const {
  SYSTEM_INFO system = {};
  ::GetNativeSystemInfo(&system);
  return system.wProcessorArchitecture;
}

int WindowsFacts::ScreenWidth() const { return ::GetSystemMetrics(SM_CXSCREEN); }

unsigned long long WindowsFacts::PhysicalMemoryBytes() const {
  MEMORYSTATUSEX status = {};
  status.dwLength = sizeof(status);
  return ::GlobalMemoryStatusEx(&status) ? status.ullTotalPhys : 0;
}

RegistryText WindowsFacts::ReadText(HKEY root, const wchar_t* subkey, const wchar_t* name) const {
  RegistryText result;
  base::UniqueHKey key;
  if (::RegOpenKeyExW(root, subkey, 0, KEY_READ, key.Receive()) != ERROR_SUCCESS) return result;
  result.key_opened = true;
  wchar_t buffer[kRegistryTextBytes / sizeof(wchar_t) + 1] = {};
  DWORD size = kRegistryTextBytes;
  DWORD type = 0;
  if (::RegQueryValueExW(key.Get(), name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) != ERROR_SUCCESS ||
      (type != REG_SZ && type != REG_EXPAND_SZ)) {
    return result;
  }
  result.value_read = true;
  result.text.assign(buffer, wcsnlen(buffer, size / sizeof(wchar_t)));
  return result;
}

bool WindowsFacts::ReadDword(HKEY root, const wchar_t* subkey, const wchar_t* name, DWORD* value) const {
  base::UniqueHKey key;
  if (::RegOpenKeyExW(root, subkey, 0, KEY_READ, key.Receive()) != ERROR_SUCCESS) return false;
  DWORD type = 0;
  DWORD data = 0;
  DWORD size = sizeof(data);
  if (::RegQueryValueExW(key.Get(), name, nullptr, &type, reinterpret_cast<BYTE*>(&data), &size) != ERROR_SUCCESS ||
      type != REG_DWORD || size != sizeof(data)) {
    return false;
  }
  *value = data;
  return true;
}

long WindowsFacts::UserGeoNation() const { return static_cast<long>(::GetUserGeoID(GEOCLASS_NATION)); }

SYSTEMTIME WindowsFacts::UtcNow() const {
  SYSTEMTIME now;
  ::GetSystemTime(&now);
  return now;
}

}  // namespace stubframework::sysinfo
