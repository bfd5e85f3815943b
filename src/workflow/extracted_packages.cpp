#include "workflow/extracted_packages.h"

#include <windows.h>

#include <algorithm>
#include <vector>

#include "base/registry_path.h"
#include "base/unique_handle.h"
#include "workflow/resume_mode.h"

namespace stubframework::workflow {

namespace {

// The values name folders: longer ones are skipped, not allocated for (the
// record lives under HKCU, where anyone running as the user can write).
constexpr DWORD kMaxValueChars = 32767;

// Copies every text value of the record into the store.
void RestoreValues(base::Log* log, const base::RegistryPath& path, base::LockedProperties& properties) {
  base::UniqueHKey key;
  if (::RegOpenKeyExW(path.root, path.subkey.c_str(), 0, KEY_READ | KEY_WOW64_32KEY, key.Receive()) !=
      ERROR_SUCCESS) {
    return;
  }
  DWORD max_name = 0;
  DWORD max_data = 0;
  if (::RegQueryInfoKeyW(key.Get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &max_name,
                         &max_data, nullptr, nullptr) != ERROR_SUCCESS) {
    return;
  }
  base::LogDebug(log, L"Reset properties for Resume Mode");
  std::vector<wchar_t> name(std::min<DWORD>(max_name, kMaxValueChars) + 1);
  // The longest text with its terminator, and room for a terminator the
  // stored data may lack.
  std::vector<wchar_t> data(std::min<DWORD>(max_data / sizeof(wchar_t), kMaxValueChars + 1) + 1);
  for (DWORD index = 0;; ++index) {
    DWORD name_length = static_cast<DWORD>(name.size());
    DWORD data_bytes = static_cast<DWORD>((data.size() - 1) * sizeof(wchar_t));
    DWORD type = 0;
    LONG status = ::RegEnumValueW(key.Get(), index, name.data(), &name_length, nullptr, &type,
                                  reinterpret_cast<BYTE*>(data.data()), &data_bytes);
    if (status == ERROR_NO_MORE_ITEMS) break;
    if (status != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) continue;
    std::wstring value_name(name.data(), name_length);
    std::wstring value(data.data(), wcsnlen(data.data(), data_bytes / sizeof(wchar_t)));
    base::LogDebug(log, L"%s:%s", value_name.c_str(), value.c_str());
    properties.SetProperty(value_name, value);
  }
}

// RegDeleteKeyExW is looked up at run time; without it nothing is deleted.
void DeleteKey32(const base::RegistryPath& path) {
  using DeleteKeyEx = LONG(WINAPI*)(HKEY, LPCWSTR, REGSAM, DWORD);
  HMODULE advapi = ::LoadLibraryW(L"Advapi32.dll");
  if (advapi == nullptr) return;
  auto delete_key =
      reinterpret_cast<DeleteKeyEx>(reinterpret_cast<void*>(::GetProcAddress(advapi, "RegDeleteKeyExW")));
  if (delete_key != nullptr) delete_key(path.root, path.subkey.c_str(), KEY_WOW64_32KEY, 0);
  ::FreeLibrary(advapi);
}

}  // namespace

std::wstring ExtractFoldersKey(const std::wstring& base_key) { return base_key + L"\\ResumeRecord\\ExtractFolders"; }

void RestoreExtractedPackages(base::Log* log, const std::wstring& base_key, int resume_mode,
                              base::LockedProperties& properties) {
  base::RegistryPath path = base::ParseRegistryPath(ExtractFoldersKey(base_key));
  if (path.root == nullptr) return;
  if (resume_mode != kResumeNone) RestoreValues(log, path, properties);
  DeleteKey32(path);
}

}  // namespace stubframework::workflow
