// The install worker: one package file from its parameters and placeholders
// through the installer run to the page's final callback.
#pragma once

#include <windows.h>

#include <string>

#include "workflow/install_job.h"

namespace stubframework::workflow {

// `param` is an InstallJob created with new; the worker owns and frees it.
// The page's function gets (kRunning, installTotal, installCurrent) while the
// installer runs and (code, total, current) once at the end.
DWORD WINAPI InstallThreadFunc(void* param);

enum class InstallerKind { kNone, kMsi, kExecutable, kZip };
// By the file's extension, in any letter case.
InstallerKind InstallerKindOf(const std::wstring& install_file);

// Where the installer logs of one run go: "<temp>\<product id>_log\", the
// timestamped "log_<UTC time>.txt" in it, and "log.txt.xml".
struct InstallLogPaths {
  std::wstring folder;
  std::wstring log;
  std::wstring xml_log;
};
InstallLogPaths MakeInstallLogPaths(const std::wstring& temp_path, const std::wstring& product_id,
                                    const std::wstring& timestamp);

// A desktop shortcut's name as the page gives it, accepted only when it is a
// bare file name: it is deleted from the desktop folder and nowhere else.
bool IsBareFileName(const std::wstring& name);

// A new identifier for the run: a GUID as 36 characters without braces, or a
// fixed one when none can be made.
std::wstring NewRunGuid();

}  // namespace stubframework::workflow
