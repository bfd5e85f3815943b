// The unzip folders of downloaded packages, deleted at the end of the run:
// where the run may delete, and the deletion itself. A property or a registry
// record names the folders; only the rule of folder_deletion_rule.h decides.
#pragma once

#include <string>
#include <vector>

#include "base/critical_section.h"
#include "base/log.h"
#include "workflow/folder_deletion_rule.h"

namespace stubframework::workflow {

// The folders this run's downloads wrote into, recorded by the download
// worker when it extracts a package and read at the end of the run, from any
// thread. Held in canonical form, as they were when the file was written.
class DownloadFolders {
 public:
  // Records the folder that holds download_file; false when it is no existing
  // folder.
  bool Record(const std::wstring& download_file);
  std::vector<std::wstring> Folders() const;

 private:
  mutable base::CriticalSection lock_;
  std::vector<std::wstring> folders_;
};

// The rule with this machine's folders: the temporary folder now, the given
// download folders, the Windows, system, program-files and profile folders.
FolderRules SystemFolderRules(const std::vector<std::wstring>& download_folders);

// Deletes `folder` recursively when the rules allow it; otherwise leaves it and
// logs why. True when it was deleted. An empty value is no folder and is
// passed over without a line.
bool DeletePackageFolder(base::Log* log, const std::wstring& folder, const FolderRules& rules);

}  // namespace stubframework::workflow
