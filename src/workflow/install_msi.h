// A Windows Installer package installed through msi.dll, with its progress
// messages turned into "installCurrent" and "installTotal".
#pragma once

#include <string>

#include "workflow/install_job.h"

namespace stubframework::workflow {

// Chooses the UI level and message filter from `params` and takes the chosen
// switch out, logs every message class into `log_path` (appending), drops
// "/l" switches and "$LOGFILE$" (the log goes through the API instead),
// installs, and puts the previous UI level and handler back. Returns the
// mapped result; the raw one becomes the last install error.
int InstallMsi(const InstallerRun& run, const std::wstring& install_file, std::wstring params,
               const std::wstring& log_path);

}  // namespace stubframework::workflow
