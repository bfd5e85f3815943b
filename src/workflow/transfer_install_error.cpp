#include "workflow/transfer_install_error.h"

namespace stubframework::workflow {

namespace {

struct InstallMapping {
  DWORD raw;
  ErrorHandle code;
};

constexpr InstallMapping kInstallResults[] = {
    {0, kNoError},
    {kInstallUserCancelled, kCancelled},
    {kInstallFailed, kFailure},
    {kInstallAlreadyRunning, kWin8GM},
    {kInstallOtherVersion, kError1638},
    {kInstallRebootInitiated, kReboot},
    {kInstallRebootRequired, kReboot},
    {kInstallProductCode20000, kError20000},
};

}  // namespace

ErrorHandle MapInstallResult(DWORD raw) {
  for (const InstallMapping& row : kInstallResults) {
    if (row.raw == raw) return row.code;
  }
  return kUnknowError;
}

int TransferInstallError(base::Log* log, DWORD raw) {
  base::LogDebug(log, L"TransferInstallError HRESULT: %x", raw);
  return MapInstallResult(raw);
}

}  // namespace stubframework::workflow
