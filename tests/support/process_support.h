// Small helpers of the maintenance tests: build-tree paths as Windows sees
// them, whole files, and programs started and waited for.
#pragma once

#include <windows.h>

#include <string>

#include "support/test_files.h"

namespace testsupport {

// Starts `command_line` as given (no application name, as the system starts
// a registered command) and waits up to two minutes; 0xFFFFFFFF when it could
// not be started.
inline DWORD RunAndWait(std::wstring command_line) {
  STARTUPINFOW startup = {sizeof(startup)};
  PROCESS_INFORMATION info = {};
  if (!::CreateProcessW(nullptr, command_line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
    return 0xFFFFFFFF;
  }
  ::WaitForSingleObject(info.hProcess, 120000);
  DWORD code = 0xFFFFFFFF;
  ::GetExitCodeProcess(info.hProcess, &code);
  ::CloseHandle(info.hProcess);
  ::CloseHandle(info.hThread);
  return code;
}

}  // namespace testsupport
