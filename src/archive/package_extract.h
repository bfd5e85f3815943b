// Unpacks a downloaded ZIP package into a fresh temporary folder and finds the
// "setup.exe" inside it.
#pragma once

#include <string>

#include "base/log.h"

namespace stubframework::archive {

class ZipReporter;

// Results, in the numbering of the page callbacks' result codes.
enum PackageResult : int {
  kPackageReady = 0,
  kPackageSetupNotFound = 2,
  kPackageDiskFull = 3,
  kPackageFailed = 4,
};

// package_path must end in ".zip" (any letter case). unzip_folder receives the
// unique folder the package went into (with a trailing backslash), setup_folder
// the folder inside it that holds "setup.exe"; both are cleared first. Progress
// and errors go to reporter (may be null), log lines to log (may be null).
int ExtractPackage(base::Log* log, ZipReporter* reporter, const std::wstring& package_path,
                   std::wstring* unzip_folder, std::wstring* setup_folder);

}  // namespace stubframework::archive
