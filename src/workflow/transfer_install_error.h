// An installer's exit code (or the Windows Installer's result) reduced to the
// error-handle code the page understands.
#pragma once

#include <windows.h>

#include "base/log.h"
#include "workflow/error_handle.h"

namespace stubframework::workflow {

// Installer codes with a meaning of their own.
inline constexpr DWORD kInstallUserCancelled = 1602;     // ERROR_INSTALL_USEREXIT
inline constexpr DWORD kInstallFailed = 1603;            // ERROR_INSTALL_FAILURE
inline constexpr DWORD kInstallAlreadyRunning = 1618;    // ERROR_INSTALL_ALREADY_RUNNING
inline constexpr DWORD kInstallOtherVersion = 1638;      // ERROR_PRODUCT_VERSION
inline constexpr DWORD kInstallRebootInitiated = 1641;   // ERROR_SUCCESS_REBOOT_INITIATED
inline constexpr DWORD kInstallRebootRequired = 3010;    // ERROR_SUCCESS_REBOOT_REQUIRED
inline constexpr DWORD kInstallProductCode20000 = 20000;  // the product installer's own

// 0 stays 0; the codes above map to their handle; anything else is kUnknowError.
ErrorHandle MapInstallResult(DWORD raw);

// Logs the raw code ("TransferInstallError HRESULT: %x") and maps it.
int TransferInstallError(base::Log* log, DWORD raw);

}  // namespace stubframework::workflow
