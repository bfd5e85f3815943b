#include "base/temp_folder.h"

#include <windows.h>

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

bool DeleteFolderRecursive(const std::wstring& folder) {
  if (folder.empty()) return false;
  std::wstring root = WithTrailingBackslash(folder);
  WIN32_FIND_DATAW data;
  UniqueFindHandle find(::FindFirstFileW((root + L"*").c_str(), &data));
  if (find) {
    do {
      std::wstring name = data.cFileName;
      if (name == L"." || name == L"..") continue;
      std::wstring path = root + name;
      if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        // A junction or link is removed itself, never followed: what it points
        // at does not belong to this folder.
        if (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
          ::RemoveDirectoryW(path.c_str());
        } else {
          DeleteFolderRecursive(path);
        }
      } else {
        if (data.dwFileAttributes & FILE_ATTRIBUTE_READONLY) {
          ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        }
        ::DeleteFileW(path.c_str());
      }
    } while (::FindNextFileW(find.Get(), &data));
  }
  find.Reset();
  return ::RemoveDirectoryW(folder.c_str()) != FALSE;
}

}  // namespace stubframework::base
