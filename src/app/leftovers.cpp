#include "app/leftovers.h"

#include <windows.h>

#include <vector>

#include "base/secured_folder.h"
#include "base/temp_folder.h"
#include "base/unique_handle.h"

namespace stubframework::app {

namespace {

constexpr wchar_t kRunLogPattern[] = L"installer_log_*.txt";

bool IsOurFolderName(const std::wstring& name) {
  return base::IsRunFolderName(name) || base::IsUniqueFolderName(name);
}

// A unique folder is only known for a log folder when it holds nothing but
// run logs: unique folders serve others too (unpacked packages, whose
// records a resumed run may still need).
bool HoldsOnlyRunLogs(const std::wstring& folder) {
  WIN32_FIND_DATAW data;
  base::UniqueFindHandle find(::FindFirstFileW((folder + L"*").c_str(), &data));
  if (!find) return false;
  int logs = 0;
  do {
    const std::wstring name = data.cFileName;
    if (name == L"." || name == L"..") continue;
    if ((data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) return false;
    if (name.compare(0, 14, L"installer_log_") != 0 || name.size() < 18 ||
        name.compare(name.size() - 4, 4, L".txt") != 0) {
      return false;
    }
    ++logs;
  } while (::FindNextFileW(find.Get(), &data));
  return logs > 0;
}

bool SameName(const std::wstring& a, const std::wstring& b) {
  return ::CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()), TRUE) ==
         CSTR_EQUAL;
}

std::wstring LastComponent(std::wstring path) {
  while (!path.empty() && path.back() == L'\\') path.pop_back();
  const size_t slash = path.find_last_of(L'\\');
  return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

// Opened for deletion with every kind of sharing: a live run holds its folder
// without delete sharing, so its folder cannot be opened so and is kept.
base::UniqueHandle OpenIfAbandoned(const std::wstring& folder) {
  return base::UniqueHandle(::CreateFileW(folder.c_str(), DELETE | READ_CONTROL | FILE_READ_ATTRIBUTES,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                          OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                          nullptr));
}

bool IsOurAbandonedFolder(HANDLE folder, const std::wstring& temp) {
  BY_HANDLE_FILE_INFORMATION info = {};
  if (!::GetFileInformationByHandle(folder, &info)) return false;
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    return false;
  }
  return base::HasTrustedOwnerIn(folder, temp);
}

int KeepRunLogs(const std::wstring& folder, const std::wstring& kept_log_folder) {
  if (kept_log_folder.empty()) return 0;
  const std::wstring kept = base::WithTrailingBackslash(kept_log_folder);
  WIN32_FIND_DATAW data;
  base::UniqueFindHandle find(::FindFirstFileW((folder + kRunLogPattern).c_str(), &data));
  if (!find) return 0;
  std::vector<std::wstring> names;
  do {
    if ((data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0) {
      names.emplace_back(data.cFileName);
    }
  } while (::FindNextFileW(find.Get(), &data));
  if (names.empty()) return 0;
  ::CreateDirectoryW(kept.c_str(), nullptr);
  if (base::PathHasReparsePoint(kept)) return 0;
  int moved = 0;
  for (const std::wstring& name : names) {
    // Never over a log that is there already.
    if (::MoveFileExW((folder + name).c_str(), (kept + name).c_str(), MOVEFILE_COPY_ALLOWED)) ++moved;
  }
  return moved;
}

}  // namespace

LeftoverCount RemoveLeftovers(const std::wstring& temp, const std::wstring& kept_log_folder,
                              const std::wstring& own_log_folder, base::Log* log) {
  LeftoverCount count;
  if (temp.empty()) return count;
  const std::wstring root = base::WithTrailingBackslash(temp);
  const std::wstring own = LastComponent(own_log_folder);
  std::vector<std::wstring> candidates;
  {
    WIN32_FIND_DATAW data;
    base::UniqueFindHandle find(::FindFirstFileW((root + L"*").c_str(), &data));
    if (!find) return count;
    do {
      const std::wstring name = data.cFileName;
      if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) continue;
      if (!IsOurFolderName(name) || (!own.empty() && SameName(name, own))) continue;
      candidates.push_back(name);
    } while (::FindNextFileW(find.Get(), &data));
  }
  for (const std::wstring& name : candidates) {
    const std::wstring folder = root + name + L"\\";
    {
      // Decided on the handle, not on the listing; closed again before the
      // folder is read (its delete access would keep a listing out).
      base::UniqueHandle handle = OpenIfAbandoned(root + name);
      if (!handle || !IsOurAbandonedFolder(handle.Get(), root)) continue;
    }
    if (!base::IsRunFolderName(name) && !HoldsOnlyRunLogs(folder)) continue;
    count.logs_kept += KeepRunLogs(folder, kept_log_folder);
    if (base::DeleteFolderRecursive(folder)) {
      ++count.folders_removed;
    }
  }
  if (count.folders_removed > 0 || count.logs_kept > 0) {
    base::LogDebug(log, L"Removed %d folders left by earlier runs, kept %d of their logs", count.folders_removed,
                   count.logs_kept);
  }
  return count;
}

}  // namespace stubframework::app
