// Installers run as child processes: an executable, and a ZIP package whose
// "setup.exe" is run.
#pragma once

#include <cstdint>
#include <string>

#include "workflow/install_job.h"

namespace stubframework::workflow {

// Runs "<file>" <params> and waits for it. With an estimated time the count
// "installCurrent" climbs one tick per interval toward "installTotal" (ten
// ticks a second) and stops one short of it until the process ends. Returns
// the mapped exit code, kFailure when the process cannot be started.
int InstallExecutable(const InstallerRun& run, const std::wstring& file, const std::wstring& params,
                      int64_t estimated_time);

// Runs the package's "setup.exe", extracting the package first unless the
// download did ("isExtractInDownload" is "true"), and deletes the unzip folder
// afterwards. An extraction failure answers its own code without running anything.
int InstallZipPackage(const InstallerRun& run, const std::wstring& zip_file, const std::wstring& params,
                      int64_t estimated_time);

// "installTotal" once a ZIP package has been extracted for its install: the
// estimated time's ticks are added to what the extraction left, so a negative
// estimate takes ticks off. The sum stays within 0 .. LONG_MAX: the counter
// is stored unsigned and read back signed, and a wrapped value would read as
// a bar that never moves.
long ZipInstallTotal(long total, int64_t estimated_time);

// Whether the folders named by a package's properties (or their registry
// record, after a restart) are a package folder made by the extraction: a
// folder directly in `temp_path`, and the setup folder inside it. Anything
// else is not run and not deleted.
bool IsExtractedPackage(const std::wstring& temp_path, const std::wstring& unzip_folder,
                        const std::wstring& setup_folder);

}  // namespace stubframework::workflow
