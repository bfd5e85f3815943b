// Restarting the computer: the shutdown privilege is enabled in this
// process's token, then the host asks Windows for the restart.
#pragma once

#include <windows.h>

namespace stubframework::externalmethods {

class MachineAccess;

// EWX_REBOOT | EWX_FORCEIFHUNG | EWX_RESTARTAPPS, for an application's reason.
inline constexpr UINT kRestartFlags = 0x52;
inline constexpr DWORD kRestartReason = 0x40000;  // SHTDN_REASON_MAJOR_APPLICATION

// Enables "SeShutdownPrivilege"; false when a step fails or the token does not hold it.
bool EnableShutdownPrivilege();

// False when the privilege cannot be enabled or the restart is refused.
// Without the machine role nothing is restarted.
bool RestartComputer(MachineAccess* machine);

}  // namespace stubframework::externalmethods
