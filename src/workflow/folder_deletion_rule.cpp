#include "workflow/folder_deletion_rule.h"

#include <windows.h>

#include <algorithm>

namespace stubframework::workflow {

namespace {

// "C:\a\b\" gives C:, a, b; "\\server\share\a" gives \\server, share, a.
std::vector<std::wstring> Components(const std::wstring& path) {
  std::vector<std::wstring> parts;
  size_t start = 0;
  if (path.compare(0, 2, L"\\\\") == 0) {
    size_t end = path.find(L'\\', 2);
    parts.push_back(path.substr(0, end));
    if (end == std::wstring::npos) return parts;
    start = end + 1;
  }
  while (start < path.size()) {
    size_t end = path.find(L'\\', start);
    if (end == std::wstring::npos) end = path.size();
    if (end > start) parts.push_back(path.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

bool SameComponent(const std::wstring& a, const std::wstring& b) {
  return ::CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()),
                                TRUE) == CSTR_EQUAL;
}

// A drive ("C:") or a share ("\\server", "share"), or less than that.
bool IsVolumeRoot(const std::wstring& path) {
  std::vector<std::wstring> parts = Components(path);
  bool unc = !parts.empty() && parts[0].compare(0, 2, L"\\\\") == 0;
  return parts.size() <= (unc ? 2u : 1u);
}

// Protected: a volume root, a protected folder, or a folder that holds one.
bool IsProtected(const std::wstring& folder, const FolderRules& rules) {
  if (IsVolumeRoot(folder)) return true;
  return std::any_of(rules.protected_folders.begin(), rules.protected_folders.end(),
                     [&](const std::wstring& kept) { return IsFolderBelow(kept, folder, true); });
}

// The temporary folder comes from the environment, which the user sets: it
// passes the same test as a download folder.
bool IsAcceptableRoot(const std::wstring& folder, const FolderRules& rules) {
  if (folder.empty() || IsProtected(folder, rules)) return false;
  return std::none_of(rules.system_trees.begin(), rules.system_trees.end(),
                      [&](const std::wstring& tree) { return IsFolderBelow(folder, tree, true); });
}

}  // namespace

bool IsFolderBelow(const std::wstring& inner, const std::wstring& outer, bool or_same) {
  std::vector<std::wstring> inner_parts = Components(inner);
  std::vector<std::wstring> outer_parts = Components(outer);
  if (outer_parts.empty() || inner_parts.size() < outer_parts.size()) return false;
  if (inner_parts.size() == outer_parts.size() && !or_same) return false;
  return std::equal(outer_parts.begin(), outer_parts.end(), inner_parts.begin(), SameComponent);
}

FolderDeletion JudgeFolderDeletion(const std::wstring& folder, const FolderRules& rules) {
  if (IsProtected(folder, rules)) return FolderDeletion::kProtected;
  auto below = [&](const std::wstring& root) {
    return IsAcceptableRoot(root, rules) && IsFolderBelow(folder, root, false);
  };
  if (below(rules.temporary)) return FolderDeletion::kAllowed;
  return std::any_of(rules.download_folders.begin(), rules.download_folders.end(), below)
             ? FolderDeletion::kAllowed
             : FolderDeletion::kOutsideRoots;
}

}  // namespace stubframework::workflow
