#include "workflow/package_folders.h"

#include <windows.h>
#include <shlobj.h>

#include "base/temp_folder.h"
#include "workflow/canonical_folder.h"

namespace stubframework::workflow {

namespace {

using FolderQuery = UINT(WINAPI*)(LPWSTR, UINT);

std::wstring SystemFolder(FolderQuery query) {
  wchar_t buffer[MAX_PATH] = {};
  UINT length = query(buffer, MAX_PATH);
  return length > 0 && length < MAX_PATH ? std::wstring(buffer, length) : std::wstring();
}

std::wstring ShellFolder(int csidl) {
  wchar_t buffer[MAX_PATH] = {};
  return SUCCEEDED(::SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, buffer)) ? buffer : L"";
}

// A 32-bit process is shown "Program Files (x86)" for both; the 64-bit folder
// is only in the environment.
std::wstring ProgramFiles64() {
  wchar_t buffer[MAX_PATH] = {};
  DWORD length = ::GetEnvironmentVariableW(L"ProgramW6432", buffer, MAX_PATH);
  return length > 0 && length < MAX_PATH ? std::wstring(buffer, length) : std::wstring();
}

std::wstring ParentOf(std::wstring path) {
  while (!path.empty() && path.back() == L'\\') path.pop_back();
  size_t slash = path.find_last_of(L'\\');
  return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

// Each folder as the system names it and, where it exists, in canonical form.
void AddFolders(const std::vector<std::wstring>& folders, std::vector<std::wstring>* list) {
  for (std::wstring folder : folders) {
    while (folder.size() > 3 && folder.back() == L'\\') folder.pop_back();
    if (folder.empty()) continue;
    list->push_back(folder);
    std::wstring canonical;
    if (CanonicalFolder(folder, &canonical) && canonical != folder) list->push_back(canonical);
  }
}

const wchar_t* VerdictText(FolderDeletion verdict) {
  return verdict == FolderDeletion::kProtected ? L"a system, program or profile folder, or one that holds one"
                                               : L"not below the temporary folder or a download folder";
}

}  // namespace

bool DownloadFolders::Record(const std::wstring& download_file) {
  std::wstring folder;
  if (!CanonicalFolder(ParentOf(download_file), &folder)) return false;
  base::ScopedLock hold(lock_);
  for (const std::wstring& known : folders_) {
    if (IsFolderBelow(known, folder, true) && IsFolderBelow(folder, known, true)) return true;
  }
  folders_.push_back(folder);
  return true;
}

std::vector<std::wstring> DownloadFolders::Folders() const {
  base::ScopedLock hold(lock_);
  return folders_;
}

FolderRules SystemFolderRules(const std::vector<std::wstring>& download_folders) {
  FolderRules rules;
  CanonicalFolder(base::TemporaryPath(), &rules.temporary);
  rules.download_folders = download_folders;
  const std::wstring windows = SystemFolder(::GetWindowsDirectoryW);
  const std::wstring program_files = ShellFolder(CSIDL_PROGRAM_FILES);
  const std::wstring program_files_x86 = ShellFolder(CSIDL_PROGRAM_FILESX86);
  const std::wstring program_files_64 = ProgramFiles64();
  const std::wstring profile = ShellFolder(CSIDL_PROFILE);
  AddFolders({windows, SystemFolder(::GetSystemDirectoryW), SystemFolder(::GetSystemWow64DirectoryW),
              program_files, program_files_x86, program_files_64, ShellFolder(CSIDL_PROGRAM_FILES_COMMON),
              ShellFolder(CSIDL_PROGRAM_FILES_COMMONX86), ShellFolder(CSIDL_COMMON_APPDATA), profile,
              ParentOf(profile), ShellFolder(CSIDL_APPDATA), ShellFolder(CSIDL_LOCAL_APPDATA),
              ShellFolder(CSIDL_DESKTOPDIRECTORY), ShellFolder(CSIDL_PERSONAL)},
             &rules.protected_folders);
  AddFolders({windows, program_files, program_files_x86, program_files_64}, &rules.system_trees);
  return rules;
}

bool DeletePackageFolder(base::Log* log, const std::wstring& folder, const FolderRules& rules) {
  if (folder.empty()) return false;
  std::wstring canonical;
  if (!CanonicalFolder(folder, &canonical)) {
    base::LogDebug(log, L"Package folder left alone, no existing folder: %s", folder.c_str());
    return false;
  }
  FolderDeletion verdict = JudgeFolderDeletion(canonical, rules);
  if (verdict != FolderDeletion::kAllowed) {
    base::LogDebug(log, L"Package folder left alone, %s: %s (%s)", VerdictText(verdict), folder.c_str(),
                   canonical.c_str());
    return false;
  }
  // The canonical path: what was judged is what goes, even when the value
  // named it through a link.
  return base::DeleteFolderRecursive(canonical);
}

}  // namespace stubframework::workflow
