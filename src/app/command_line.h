// The arguments the stub recognises. Each query has a pure form over an
// argument vector (or a raw command line) and a form that reads this process's
// command line afresh.
#pragma once

#include <string>
#include <vector>

#include "workflow/install_params.h"
#include "workflow/resume_mode.h"

namespace stubframework::app {

using ArgumentVector = std::vector<std::wstring>;

// CommandLineToArgvW of the given text; element 0 included.
ArgumentVector SplitCommandLine(const std::wstring& command_line);
// This process's arguments, read fresh from GetCommandLineW.
ArgumentVector ProcessArguments();

using workflow::kResumeDownloading;
using workflow::kResumeInstalling;
using workflow::kResumeNone;

// The value of the first argument after the first that starts with name + "="
// (case-sensitive); empty when absent.
std::wstring GetNamedArgument(const ArgumentVector& args, const std::wstring& name);
std::wstring GetNamedArgument(const std::wstring& name);

// "run=1" after the first argument, without regard to case.
bool IsWorkingCopy(const ArgumentVector& args);
// "update=0" after the first argument, without regard to case.
bool IsSkipSelfUpdate(const ArgumentVector& args);
bool IsSkipSelfUpdate();
// "/QN" anywhere, the first argument included, compared in upper case.
bool IsSilentLaunch(const ArgumentVector& args);
bool IsSilentLaunch();
// "shortcut=" + path, the first argument included (case-sensitive).
bool GetShortcutPath(const ArgumentVector& args, std::wstring& path);
bool GetShortcutPath(std::wstring& path);
// "uninstall" or "modify": the first argument (the program path included) that
// contains "/uninstall" or "/modify" in lower case decides; it is "uninstall"
// when that argument contains "/uninstall".
bool GetUninstallMode(const ArgumentVector& args, std::wstring& mode);
bool GetUninstallMode(std::wstring& mode);
// RESUME=DOWNLOADING / RESUME=INSTALLING after the first argument.
int GetResumeMode(const ArgumentVector& args);
int GetResumeMode();

// The passthrough="..." value, followed by a blank and the passthro="..." value
// when there is one. Searched in the raw command line.
std::wstring PassthroughText(const std::wstring& raw_command_line);
std::wstring PassthroughArguments();

// Installer parameter texts are read by the install worker, which owns these.
using workflow::FindLaunchOnExit;
using workflow::HasArgument;
using workflow::LaunchOnExit;

// The raw command line after the program name as written there (quotes and
// all): empty or beginning with a blank.
std::wstring CommandLineTail(const std::wstring& raw_command_line);

}  // namespace stubframework::app
