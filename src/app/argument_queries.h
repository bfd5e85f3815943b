// The questions the stub asks of its arguments, as pure functions over an
// argument vector or the raw command line, without Windows headers (they
// also build natively, for fuzzing). command_line.h adds the forms that read
// this process's command line.
#pragma once

#include <string>
#include <vector>

#include "workflow/resume_mode.h"

namespace stubframework::app {

using ArgumentVector = std::vector<std::wstring>;

// The value of the first argument after the first that starts with name + "="
// (case-sensitive); empty when absent.
std::wstring GetNamedArgument(const ArgumentVector& args, const std::wstring& name);

// "run=1" after the first argument, without regard to case.
bool IsWorkingCopy(const ArgumentVector& args);
// "update=0" after the first argument, without regard to case.
bool IsSkipSelfUpdate(const ArgumentVector& args);
// "/QN" anywhere, the first argument included, compared in upper case.
bool IsSilentLaunch(const ArgumentVector& args);
// "shortcut=" + path, the first argument included (case-sensitive).
bool GetShortcutPath(const ArgumentVector& args, std::wstring& path);
// "uninstall" or "modify": the first argument (the program path included) that
// contains "/uninstall" or "/modify" in lower case decides; it is "uninstall"
// when that argument contains "/uninstall".
bool GetUninstallMode(const ArgumentVector& args, std::wstring& mode);
// RESUME=DOWNLOADING / RESUME=INSTALLING after the first argument, without
// regard to case.
int GetResumeMode(const ArgumentVector& args);

// The passthrough="..." value, followed by a blank and the passthro="..." value
// when there is one. Searched in the raw command line.
std::wstring PassthroughText(const std::wstring& raw_command_line);

// The raw command line after the program name as written there (quotes and
// all): empty or beginning with a blank.
std::wstring CommandLineTail(const std::wstring& raw_command_line);

}  // namespace stubframework::app
