#include "workflow/uninstall_thread.h"

#include <memory>
#include <vector>

#include "base/unique_handle.h"
#include "workflow/child_wait.h"
#include "workflow/error_handle.h"
#include "workflow/transfer_install_error.h"

namespace stubframework::workflow {

namespace {

bool FileExists(const std::wstring& path) {
  DWORD attributes = ::GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

void RunUninstallJob(UninstallJob& job, htmlui::PageCallback& callback) {
  base::Log* log = job.host.log;
  base::LockedProperties properties = job.host.properties();
  int code = RunMaintenanceCommand(log, properties, job.host.run, job.command_line, job.tick_ms);
  callback.Call(code);
  if (job.add_log_file && FileExists(job.log_file)) job.add_log_file(job.log_file);
  base::LogError(log, L"UninstallThreadFunc result: %x", code);
}

}  // namespace

int RunMaintenanceCommand(base::Log* log, base::LockedProperties& properties, htmlui::RunState* run,
                          const std::wstring& command_line, DWORD tick_ms) {
  properties.SetInstallCurrent(0);
  properties.SetInstallTotal(kMaintenanceTotal);
  // The method leaves the command empty when the page's product code was refused.
  if (command_line.empty()) return kFailure;

  // CreateProcessW may write into the command line.
  std::vector<wchar_t> writable(command_line.begin(), command_line.end());
  writable.push_back(L'\0');
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info = {};
  if (!::CreateProcessW(nullptr, writable.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
    base::LogDebug(log, L"Uninstall %s, CreateProcessW failed", command_line.c_str());
    return kFailure;
  }
  base::UniqueHandle process(info.hProcess);
  base::UniqueHandle thread(info.hThread);

  const bool ended = WaitForChild(process.Get(), run != nullptr ? run->stop_event() : nullptr, tick_ms, [&] {
    long current = properties.GetInstallCurrent();
    if (current < properties.GetInstallTotal()) properties.SetInstallCurrent(static_cast<unsigned long>(current) + 1);
  });
  if (!ended) {
    base::LogDebug(log, L"Uninstall %s, the run is closing: the command goes on alone", command_line.c_str());
    return kCancelled;
  }
  properties.SetInstallCurrent(static_cast<unsigned long>(properties.GetInstallTotal()));

  DWORD raw = 0;
  if (!::GetExitCodeProcess(process.Get(), &raw)) raw = ::GetLastError();
  int code = TransferInstallError(log, raw);
  base::LogDebug(log, L"Uninstall %s, return %d, error handler %d", command_line.c_str(), raw, code);
  if (run != nullptr) run->SetLastInstallError(raw);
  return code;
}

DWORD WINAPI UninstallThreadFunc(void* param) {
  std::unique_ptr<UninstallJob> job(static_cast<UninstallJob*>(param));
  htmlui::PageCallback callback(job->host.log, L"UninstallThreadFunc", job->callback_stream.Detach());
  if (callback.connected()) RunUninstallJob(*job, callback);
  return 0;
}

}  // namespace stubframework::workflow
