#include "workflow/canonical_folder.h"

#include <windows.h>

#include <vector>

#include "base/unique_handle.h"

namespace stubframework::workflow {

namespace {

// The longest path the system's wide functions take.
constexpr size_t kMaxPath = 32767;

const wchar_t kLongPrefix[] = L"\\\\?\\";
const wchar_t kLongUncPrefix[] = L"\\\\?\\UNC\\";

bool StartsWith(const std::wstring& text, const wchar_t* prefix) { return text.compare(0, wcslen(prefix), prefix) == 0; }

// "\\?\C:\x" → "C:\x", "\\?\UNC\server\share" → "\\server\share".
std::wstring WithoutLongPrefix(const std::wstring& path) {
  if (StartsWith(path, kLongUncPrefix)) return L"\\\\" + path.substr(wcslen(kLongUncPrefix));
  if (StartsWith(path, kLongPrefix)) return path.substr(wcslen(kLongPrefix));
  return path;
}

bool IsDriveAbsolute(const std::wstring& path) {
  return path.size() >= 3 && iswalpha(path[0]) && path[1] == L':' && (path[2] == L'\\' || path[2] == L'/');
}

bool IsUncAbsolute(const std::wstring& path) {
  // "\\.\" and "\\?\" name devices and namespaces, not shares.
  return path.size() > 2 && path[0] == L'\\' && path[1] == L'\\' && path[2] != L'.' && path[2] != L'?';
}

bool FullPath(const std::wstring& path, std::wstring* full) {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (int attempt = 0; attempt < 2; ++attempt) {
    DWORD length = ::GetFullPathNameW(path.c_str(), static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
    if (length == 0 || length > kMaxPath + 1) return false;
    if (length < buffer.size()) {
      full->assign(buffer.data(), length);
      return true;
    }
    buffer.resize(length);
  }
  return false;
}

// What the open handle really names: links and junctions followed, short
// names and letter case as stored.
bool FinalPath(HANDLE folder, std::wstring* path) {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (int attempt = 0; attempt < 2; ++attempt) {
    DWORD length = ::GetFinalPathNameByHandleW(folder, buffer.data(), static_cast<DWORD>(buffer.size()),
                                               FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length == 0 || length > kMaxPath + 1) return false;
    if (length < buffer.size()) {
      path->assign(buffer.data(), length);
      return true;
    }
    buffer.resize(length);
  }
  return false;
}

}  // namespace

bool CanonicalFolder(const std::wstring& path, std::wstring* canonical) {
  if (path.empty() || path.size() > kMaxPath || path.find(L'\0') != std::wstring::npos) return false;
  std::wstring absolute = WithoutLongPrefix(path);
  if (!IsDriveAbsolute(absolute) && !IsUncAbsolute(absolute)) return false;
  std::wstring full;
  if (!FullPath(absolute, &full)) return false;

  base::UniqueHandle folder(::CreateFileW(full.c_str(), FILE_READ_ATTRIBUTES,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                          OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!folder) return false;
  BY_HANDLE_FILE_INFORMATION information;
  if (!::GetFileInformationByHandle(folder.Get(), &information) ||
      (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    return false;
  }
  std::wstring final_path;
  if (!FinalPath(folder.Get(), &final_path)) return false;
  final_path = WithoutLongPrefix(final_path);
  while (final_path.size() > 3 && final_path.back() == L'\\') final_path.pop_back();
  if (final_path.size() == 2 && final_path[1] == L':') final_path.push_back(L'\\');
  *canonical = final_path;
  return true;
}

}  // namespace stubframework::workflow
