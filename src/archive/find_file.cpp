#include "archive/find_file.h"

#include <windows.h>

#include "base/unique_handle.h"

namespace stubframework::archive {

namespace {

std::wstring WithoutTrailingBackslash(std::wstring path) {
  while (path.size() > 3 && path.back() == L'\\') path.pop_back();
  return path;
}

}  // namespace

bool FindFile(const std::wstring& folder, const std::wstring& name, std::wstring* holder) {
  std::wstring base = WithoutTrailingBackslash(folder);
  if (::GetFileAttributesW((base + L"\\" + name).c_str()) != INVALID_FILE_ATTRIBUTES) {
    *holder = folder;
    return true;
  }
  WIN32_FIND_DATAW data;
  base::UniqueFindHandle find(::FindFirstFileW((base + L"\\*").c_str(), &data));
  if (!find) return false;
  do {
    if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) continue;
    std::wstring child = data.cFileName;
    if (child == L"." || child == L"..") continue;
    // A link may point back up the tree; it is not part of this folder.
    if (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) continue;
    if (FindFile(base + L"\\" + child, name, holder)) return true;
  } while (::FindNextFileW(find.Get(), &data));
  return false;
}

}  // namespace stubframework::archive
