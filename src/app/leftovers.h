// What killed runs left in the temporary folder: their protected working
// folders (the launcher's copy of the stub, the pages, unpacked packages) and
// their run logs, which a finished run would have copied to the kept-log
// folder. Removed at start-up, once this run holds the single-instance lock.
#pragma once

#include <string>

#include "base/log.h"

namespace stubframework::app {

struct LeftoverCount {
  int folders_removed = 0;
  int logs_kept = 0;
};

// In `temp` (with a trailing backslash), each folder named as this program
// names its folders, that is no link, that belongs to SYSTEM or
// Administrators (or, unelevated, to this user) and that no live run holds,
// is removed: a run folder whatever it holds, a unique folder only when it
// holds nothing but run logs. "installer_log_*.txt" files directly in it are
// first moved into `kept_log_folder` (never over a log of the same name).
// `own_log_folder` (this run's) is passed over. Nothing else is touched.
LeftoverCount RemoveLeftovers(const std::wstring& temp, const std::wstring& kept_log_folder,
                              const std::wstring& own_log_folder, base::Log* log);

}  // namespace stubframework::app
