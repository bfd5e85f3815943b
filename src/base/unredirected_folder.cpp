#include "base/unredirected_folder.h"

#include <windows.h>
#include <knownfolders.h>
#include <shlobj.h>

#include "base/no_follow.h"
#include "base/unique_handle.h"

namespace stubframework::base {

namespace {

// "\\?\C:\a\" -> "C:\a", "\\?\UNC\host\share" -> "\\host\share".
std::wstring Plain(std::wstring path) {
  if (path.compare(0, 8, L"\\\\?\\UNC\\") == 0) {
    path = L"\\\\" + path.substr(8);
  } else if (path.compare(0, 4, L"\\\\?\\") == 0) {
    path = path.substr(4);
  }
  while (!path.empty() && (path.back() == L'\\' || path.back() == L'/')) path.pop_back();
  return path;
}

bool SameText(const wchar_t* a, size_t a_size, const wchar_t* b, size_t b_size) {
  return ::CompareStringOrdinal(a, static_cast<int>(a_size), b, static_cast<int>(b_size), TRUE) == CSTR_EQUAL;
}

// Whether `path` is `folder` or lies under it (whole components).
bool IsUnder(const std::wstring& path, const std::wstring& folder) {
  if (folder.empty() || path.size() < folder.size()) return false;
  if (!SameText(path.c_str(), folder.size(), folder.c_str(), folder.size())) return false;
  return path.size() == folder.size() || path[folder.size()] == L'\\';
}

std::wstring FullPath(const std::wstring& path) {
  DWORD length = ::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (length == 0 || length > 32768) return std::wstring();
  std::wstring full(length, L'\0');
  length = ::GetFullPathNameW(path.c_str(), length, &full[0], nullptr);
  if (length == 0 || length >= full.size()) return std::wstring();
  full.resize(length);
  return full;
}

// Short names (as GetTempPathW may give) spelled out; the path as it was
// when that fails.
std::wstring LongPath(const std::wstring& path) {
  DWORD length = ::GetLongPathNameW(path.c_str(), nullptr, 0);
  if (length == 0 || length > 32768) return path;
  std::wstring long_path(length, L'\0');
  length = ::GetLongPathNameW(path.c_str(), &long_path[0], length);
  if (length == 0 || length >= long_path.size()) return path;
  long_path.resize(length);
  return long_path;
}

// A folder's handle, links followed: its final path is where it really is.
UniqueHandle OpenFolder(const std::wstring& path) {
  return UniqueHandle(::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS, nullptr));
}

void AddPlace(const std::wstring& path, std::vector<SystemFolderPlace>* places) {
  if (path.empty()) return;
  const std::wstring named = LongPath(FullPath(path));
  UniqueHandle folder = OpenFolder(named);
  if (!folder) return;
  std::wstring final_path = FinalPathOf(folder.Get());
  if (!final_path.empty()) places->push_back({named, final_path});
}

}  // namespace

bool FolderIsWhereNamed(const std::wstring& named, const std::wstring& final_path,
                        const std::vector<SystemFolderPlace>& places) {
  const std::wstring given = Plain(named);
  const std::wstring real = Plain(final_path);
  if (given.empty() || real.empty()) return false;
  const SystemFolderPlace* best = nullptr;
  size_t best_size = 0;
  for (const SystemFolderPlace& place : places) {
    const std::wstring prefix = Plain(place.named);
    if (prefix.size() > best_size && IsUnder(given, prefix)) {
      best = &place;
      best_size = prefix.size();
    }
  }
  std::wstring expected = given;
  if (best != nullptr) {
    const std::wstring place_final = Plain(best->final_path);
    if (place_final.empty()) return false;
    expected = place_final + given.substr(best_size);
  }
  return SameText(expected.c_str(), expected.size(), real.c_str(), real.size());
}

std::vector<SystemFolderPlace> SystemFolderPlaces() {
  std::vector<SystemFolderPlace> places;
  const KNOWNFOLDERID* const kFolders[] = {&FOLDERID_Profile,      &FOLDERID_Desktop,      &FOLDERID_Documents,
                                           &FOLDERID_Downloads,    &FOLDERID_LocalAppData, &FOLDERID_RoamingAppData,
                                           &FOLDERID_ProgramData};
  for (const KNOWNFOLDERID* id : kFolders) {
    PWSTR path = nullptr;
    if (SUCCEEDED(::SHGetKnownFolderPath(*id, KF_FLAG_DONT_VERIFY, nullptr, &path)) && path != nullptr) {
      AddPlace(path, &places);
    }
    ::CoTaskMemFree(path);
  }
  wchar_t temp[MAX_PATH + 1];
  DWORD length = ::GetTempPathW(MAX_PATH + 1, temp);
  if (length > 0 && length <= MAX_PATH) AddPlace(std::wstring(temp, length), &places);
  return places;
}

bool TargetFolderIsUnredirected(const std::wstring& target) {
  std::wstring folder = FullPath(target);
  for (;;) {
    const size_t slash = folder.find_last_of(L'\\');
    if (slash == std::wstring::npos || slash == 0) return false;
    folder.resize(slash);
    // "C:" alone names the drive's current folder: the root is "C:\".
    const std::wstring open_path = folder.back() == L':' ? folder + L"\\" : folder;
    UniqueHandle handle = OpenFolder(open_path);
    if (!handle) {
      const DWORD error = ::GetLastError();
      if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) continue;
      return false;
    }
    const std::wstring final_path = FinalPathOf(handle.Get());
    return FolderIsWhereNamed(LongPath(open_path), final_path, SystemFolderPlaces());
  }
}

}  // namespace stubframework::base
