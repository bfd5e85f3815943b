// How the stub launches: the first process runs a temporary copy of itself
// with "run=1", hands over to a newer stub, or finishes a self-update.
#pragma once

#include <windows.h>

#include <string>

#include "app/command_line.h"

// <delayimp.h> has no include guard: only launch.cpp includes it.
struct DelayLoadInfo;

namespace stubframework::app {

struct LaunchSpec {
  std::wstring folder;        // with a trailing backslash
  std::wstring file;          // file name inside folder
  std::wstring command_line;  // without the program name
};

// Starts folder + file in folder with the command line; with `wait`, returns
// its exit code. 0 when the process could not be created.
DWORD RunProcess(const LaunchSpec& launch, bool wait);

enum class LaunchOutcome {
  kContinue,          // this process is the working copy: show the UI
  kFirstProcessDone,  // the temporary copy has run to its end: return 0
};

// Restricts DLL loading to the system folder where the system supports it, so
// that a stub started from a downloads folder loads no planted DLL.
void HardenDllSearch();

// The delay-load helper's notification hook (installed as
// __pfnDliNotifyHook2): a delay-loaded DLL is loaded from the system folder by
// its full path, so no planted copy is found even where the system lacks
// SetDefaultDllDirectories. Null for every other notification, or when the
// system folder is unknown: the helper then loads the DLL by name.
FARPROC WINAPI LoadDelayedDllFromSystemFolder(unsigned notification, DelayLoadInfo* info);

// Runs first thing at start. Ends the process itself for a ".local" redirection
// (exit 1) and for the finishing step of a self-update.
LaunchOutcome RunLaunchCheck(const std::wstring& product, const std::wstring& major_version);

// The command line of the working copy: tail + ` run=1 shortcut="<exe>"`.
std::wstring WorkingCopyCommandLine(const std::wstring& tail, const std::wstring& exe_path);
// The command line of the newer stub: tail + ` run=1 update=0 shortcut="<exe>"`.
std::wstring NewerStubCommandLine(const std::wstring& tail, const std::wstring& exe_path);
// The finishing run: the newer stub's command line + ` newVersionExitCode=N parentProcessID=P`.
std::wstring FinishingCommandLine(const std::wstring& newer_stub_command_line, DWORD exit_code, DWORD parent_id);

// A setting that names a file inside a folder must be a plain file name.
bool IsPlainFileName(const std::wstring& name);

}  // namespace stubframework::app
