#include "app/command_line.h"

#include <windows.h>
#include <shellapi.h>

namespace stubframework::app {

ArgumentVector SplitCommandLine(const std::wstring& command_line) {
  ArgumentVector args;
  int count = 0;
  LPWSTR* argv = ::CommandLineToArgvW(command_line.c_str(), &count);
  if (argv == nullptr) return args;
  for (int i = 0; i < count; ++i) args.emplace_back(argv[i]);
  ::LocalFree(argv);
  return args;
}

ArgumentVector ProcessArguments() { return SplitCommandLine(::GetCommandLineW()); }

std::wstring GetNamedArgument(const std::wstring& name) { return GetNamedArgument(ProcessArguments(), name); }

bool IsSkipSelfUpdate() { return IsSkipSelfUpdate(ProcessArguments()); }

bool IsSilentLaunch() { return IsSilentLaunch(ProcessArguments()); }

bool GetShortcutPath(std::wstring& path) { return GetShortcutPath(ProcessArguments(), path); }

bool GetUninstallMode(std::wstring& mode) { return GetUninstallMode(ProcessArguments(), mode); }

int GetResumeMode() { return GetResumeMode(ProcessArguments()); }

std::wstring PassthroughArguments() { return PassthroughText(::GetCommandLineW()); }

}  // namespace stubframework::app
