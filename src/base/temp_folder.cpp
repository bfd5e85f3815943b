#include "base/temp_folder.h"

#include <windows.h>

#include <cstddef>
#include <vector>

#include "base/no_follow.h"
#include "base/secured_folder.h"
#include "base/unique_handle.h"
#include "base/wide_format.h"

namespace stubframework::base {

namespace {
constexpr int kUniqueFolderAttempts = 8;
}  // namespace

std::wstring WithTrailingBackslash(std::wstring path) {
  if (path.empty() || path.back() != L'\\') path.push_back(L'\\');
  return path;
}

std::wstring TemporaryPath() {
  wchar_t buffer[MAX_PATH] = {};
  DWORD length = ::GetTempPathW(MAX_PATH, buffer);
  if (length == 0 || length > MAX_PATH - 2) return std::wstring();
  std::wstring path = WithTrailingBackslash(std::wstring(buffer, length));
  wchar_t long_path[MAX_PATH] = {};
  DWORD long_length = ::GetLongPathNameW(path.c_str(), long_path, MAX_PATH);
  if (long_length > 0 && long_length < MAX_PATH) path.assign(long_path, long_length);
  return path;
}

std::wstring MakeUniqueFolder(const std::wstring& base) {
  if (base.empty() || ::GetFileAttributesW(base.c_str()) == INVALID_FILE_ATTRIBUTES) return std::wstring();
  for (int attempt = 0; attempt < kUniqueFolderAttempts; ++attempt) {
    // A name nobody can guess ahead of time, so nobody can plant it first.
    const std::wstring random = RandomHex(kRunFolderRandomBytes);
    if (random.empty()) return std::wstring();
    const std::wstring candidate = WithTrailingBackslash(base) + random;
    if (CreateProtectedFolder(candidate)) return candidate + L"\\";
    if (::GetLastError() != ERROR_ALREADY_EXISTS) return std::wstring();
  }
  return std::wstring();
}

bool IsUniqueFolderName(const std::wstring& name) {
  return name.size() == 2 * kRunFolderRandomBytes &&
         name.find_first_not_of(L"0123456789abcdef") == std::wstring::npos;
}

namespace {

// Others may read and write what is held meanwhile, not rename or delete it:
// a held folder keeps the paths below it in place.
constexpr DWORD kDeleteAccess = DELETE | FILE_LIST_DIRECTORY | FILE_WRITE_ATTRIBUTES | SYNCHRONIZE;
constexpr DWORD kDeleteShare = FILE_SHARE_READ | FILE_SHARE_WRITE;

// Marks what the handle holds for deletion when the handle closes; a
// read-only file is made writable first, through the same handle.
bool DisposeOf(HANDLE handle, DWORD attributes) {
  if (attributes & FILE_ATTRIBUTE_READONLY) {
    FILE_BASIC_INFO basic = {};
    basic.FileAttributes = (attributes & ~FILE_ATTRIBUTE_READONLY) | FILE_ATTRIBUTE_NORMAL;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) basic.FileAttributes = attributes & ~FILE_ATTRIBUTE_READONLY;
    ::SetFileInformationByHandle(handle, FileBasicInfo, &basic, sizeof(basic));
  }
  FILE_DISPOSITION_INFO disposition = {TRUE};
  return ::SetFileInformationByHandle(handle, FileDispositionInfo, &disposition, sizeof(disposition)) != FALSE;
}

bool DeleteHeld(const HeldEntry& entry, const std::wstring& path, const DeletionHook& hook);

// The names in the held folder, read through its handle (a listing by path
// could be of another folder by now), before any is deleted.
std::vector<std::wstring> ListNames(HANDLE folder) {
  std::vector<std::wstring> names;
  std::vector<unsigned char> buffer(64 * 1024);
  FILE_INFO_BY_HANDLE_CLASS kind = FileIdBothDirectoryRestartInfo;
  while (::GetFileInformationByHandleEx(folder, kind, buffer.data(), static_cast<DWORD>(buffer.size()))) {
    kind = FileIdBothDirectoryInfo;
    size_t offset = 0;
    for (;;) {
      if (offset + sizeof(FILE_ID_BOTH_DIR_INFO) > buffer.size()) return names;
      const auto* info = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(buffer.data() + offset);
      const size_t name_at = offset + offsetof(FILE_ID_BOTH_DIR_INFO, FileName);
      if (name_at + info->FileNameLength > buffer.size()) return names;
      std::wstring name(info->FileName, info->FileNameLength / sizeof(wchar_t));
      if (name != L"." && name != L"..") names.push_back(name);
      if (info->NextEntryOffset == 0) break;
      offset += info->NextEntryOffset;
    }
  }
  return names;
}

// Deletes one listed entry, deciding on the handle it deletes through: a link
// goes itself, never what it leads to; an entry that is not where its folder's
// listing put it (something swapped it for a link the system followed) stays.
bool DeleteEntry(const std::wstring& path, const std::wstring& expected, const DeletionHook& hook) {
  HeldEntry entry = OpenNoFollow(path, expected, kDeleteAccess, kDeleteShare, OPEN_EXISTING);
  if (!entry.handle) return false;
  if (entry.is_link) return DisposeOf(entry.handle.Get(), entry.attributes);
  if (!entry.in_place) return false;
  return DeleteHeld(entry, path, hook);
}

bool DeleteHeld(const HeldEntry& entry, const std::wstring& path, const DeletionHook& hook) {
  if (entry.attributes & FILE_ATTRIBUTE_DIRECTORY) {
    const std::wstring root = WithTrailingBackslash(path);
    for (const std::wstring& name : ListNames(entry.handle.Get())) {
      if (hook) hook(root + name);
      DeleteEntry(root + name, JoinFinal(entry.final_path, name), hook);
    }
  }
  return DisposeOf(entry.handle.Get(), entry.attributes);
}

}  // namespace

bool DeleteFolderRecursive(const std::wstring& folder) { return DeleteFolderRecursive(folder, DeletionHook()); }

bool DeleteFolderRecursive(const std::wstring& folder, const DeletionHook& hook) {
  if (folder.empty()) return false;
  std::wstring path = folder;
  while (path.size() > 3 && path.back() == L'\\') path.pop_back();
  // Where the system opens the target of a link anyway (Wine), only the path
  // shows a link: such a folder is left alone.
  DWORD attributes = ::GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return false;
  HeldEntry entry = OpenNoFollow(path, std::wstring(), kDeleteAccess, kDeleteShare, OPEN_EXISTING);
  if (!entry.handle) return false;
  // A link named as the folder: the link goes, what it leads to stays.
  if (entry.is_link) return DisposeOf(entry.handle.Get(), entry.attributes);
  if (!(entry.attributes & FILE_ATTRIBUTE_DIRECTORY) || entry.final_path.empty()) return false;
  return DeleteHeld(entry, path, hook);
}

}  // namespace stubframework::base
