#include "externalmethods/system_restart.h"

#include "base/unique_handle.h"
#include "externalmethods/method_host.h"

namespace stubframework::externalmethods {

bool EnableShutdownPrivilege() {
  base::UniqueHandle token;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, token.Receive())) {
    return false;
  }
  TOKEN_PRIVILEGES privileges = {};
  if (!::LookupPrivilegeValueW(nullptr, SE_SHUTDOWN_NAME, &privileges.Privileges[0].Luid)) return false;
  privileges.PrivilegeCount = 1;
  privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  if (!::AdjustTokenPrivileges(token.Get(), FALSE, &privileges, 0, nullptr, nullptr)) return false;
  // Succeeds without enabling a privilege the token lacks.
  return ::GetLastError() == ERROR_SUCCESS;
}

bool RestartComputer(MachineAccess* machine) {
  if (machine == nullptr || !EnableShutdownPrivilege()) return false;
  return machine->RequestRestart(kRestartFlags, kRestartReason);
}

}  // namespace stubframework::externalmethods
