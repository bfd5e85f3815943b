// The arguments the stub recognises. Each query has a pure form over an
// argument vector (or a raw command line, argument_queries.h) and a form that
// reads this process's command line afresh.
#pragma once

#include <string>
#include <vector>

#include "app/argument_queries.h"
#include "workflow/install_params.h"
#include "workflow/resume_mode.h"

namespace stubframework::app {

// CommandLineToArgvW of the given text; element 0 included.
ArgumentVector SplitCommandLine(const std::wstring& command_line);
// This process's arguments, read fresh from GetCommandLineW.
ArgumentVector ProcessArguments();

using workflow::kResumeDownloading;
using workflow::kResumeInstalling;
using workflow::kResumeNone;

std::wstring GetNamedArgument(const std::wstring& name);
bool IsSkipSelfUpdate();
bool IsSilentLaunch();
bool GetShortcutPath(std::wstring& path);
bool GetUninstallMode(std::wstring& mode);
int GetResumeMode();
std::wstring PassthroughArguments();

// Installer parameter texts are read by the install worker, which owns these.
using workflow::FindLaunchOnExit;
using workflow::HasArgument;
using workflow::LaunchOnExit;

}  // namespace stubframework::app
