#include "workflow/extracted_packages.h"

#include <windows.h>

#include <algorithm>
#include <cwchar>
#include <vector>

#include "base/registry_path.h"
#include "base/secured_folder.h"
#include "base/temp_folder.h"
#include "base/unique_handle.h"
#include "workflow/download_properties.h"
#include "workflow/resume_mode.h"

namespace stubframework::workflow {

namespace {

// The values name folders: longer ones are skipped, not allocated for (the
// record lives under HKCU, where anyone running as the user can write).
constexpr DWORD kMaxValueChars = 32767;

bool EndsWith(const std::wstring& text, const wchar_t* tail) {
  const size_t length = wcslen(tail);
  return text.size() >= length && text.compare(text.size() - length, length, tail) == 0;
}

// The record is only a hint: a folder it names is taken when it is one this
// program unpacked into (a unique folder directly in the temporary folder,
// no link on the way, owned by SYSTEM or Administrators); otherwise the page
// downloads and unpacks the package again.
bool IsOwnUnpackedFolder(const std::wstring& folder) {
  const std::wstring temp = base::TemporaryPath();
  if (temp.empty() || folder.size() <= temp.size() || _wcsnicmp(folder.c_str(), temp.c_str(), temp.size()) != 0) {
    return false;
  }
  const size_t end = folder.find(L'\\', temp.size());
  const std::wstring top = folder.substr(0, end);
  if (!base::IsUniqueFolderName(top.substr(temp.size())) || base::PathHasReparsePoint(folder)) return false;
  base::UniqueHandle handle(::CreateFileW(
      top.c_str(), READ_CONTROL | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  BY_HANDLE_FILE_INFORMATION info = {};
  if (!handle || !::GetFileInformationByHandle(handle.Get(), &info) ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    return false;
  }
  return base::HasTrustedOwnerIn(handle.Get(), temp);
}

bool NamesFolder(const std::wstring& value_name) {
  return EndsWith(value_name, kUnzipFolderSuffix) || EndsWith(value_name, kSetupFolderSuffix);
}

// Copies every text value of the record into the store; a folder value only
// when the folder is this program's own.
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
    if (NamesFolder(value_name) && !IsOwnUnpackedFolder(value)) {
      base::LogDebug(log, L"Resume record names no folder this program unpacked into, not restored: %s",
                     value_name.c_str());
      continue;
    }
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
