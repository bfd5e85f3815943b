// Which folders the run may delete when a property or a registry value names
// them: both are writable by the page or the user, while the stub runs
// elevated. The rule works on canonical paths (see canonical_folder.h) and
// compares them component by component, without regard to letter case.
#pragma once

#include <string>
#include <vector>

namespace stubframework::workflow {

struct FolderRules {
  // The user's temporary folder: package folders are made below it.
  std::wstring temporary;
  // Folders the page's downloads wrote into during this run.
  std::vector<std::wstring> download_folders;
  // Never deleted, nor any folder that holds one: the Windows, system,
  // program-files and profile folders.
  std::vector<std::wstring> protected_folders;
  // Nothing inside these counts as the temporary or a download folder: the
  // Windows and program-files folders.
  std::vector<std::wstring> system_trees;
};

enum class FolderDeletion {
  kAllowed,
  // A drive root, a protected folder, or a folder that holds one.
  kProtected,
  // Not strictly below the temporary folder or an acceptable download folder.
  kOutsideRoots,
};

// A folder may be deleted when it is no drive root, no protected folder and
// holds none, and lies strictly below the temporary folder or a download
// folder, where that root is itself no drive root, protected folder or holder
// of one, and lies in no system tree.
FolderDeletion JudgeFolderDeletion(const std::wstring& folder, const FolderRules& rules);

// Whether `inner` lies below `outer`, or is it (`or_same`). Paths are
// canonical; case is ignored; "C:\ab" is not below "C:\a".
bool IsFolderBelow(const std::wstring& inner, const std::wstring& outer, bool or_same);

}  // namespace stubframework::workflow
