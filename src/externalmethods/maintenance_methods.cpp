#include "externalmethods/maintenance_methods.h"

#include <memory>
#include <new>
#include <string>

#include "base/registry.h"
#include "base/temp_folder.h"
#include "externalmethods/external_methods.h"
#include "externalmethods/script_call.h"
#include "externalmethods/worker_host_of.h"
#include "htmlui/page_callback.h"
#include "workflow/maintenance_command.h"
#include "workflow/maintenance_job.h"
#include "workflow/self_update.h"
#include "workflow/uninstall_entry.h"
#include "workflow/uninstall_thread.h"
#include "workflow/verify_thread.h"

namespace stubframework::externalmethods {

namespace {

// The longest command line CreateProcessW takes, in bytes: a longer
// UninstallString could not run anyway.
constexpr unsigned kUninstallStringBytes = 32767 * sizeof(wchar_t);

constexpr wchar_t kUninstallModeProperty[] = L"uninstallMode";
constexpr wchar_t kDefaultOptionProperty[] = L"defaultOption";

std::wstring ProductIdOf(ExternalMethods& methods) {
  LaunchFacts* launch = methods.launch();
  return launch == nullptr ? std::wstring() : launch->product_id();
}

// The log folder of this product's installers, created when missing.
std::wstring LogFileFor(ExternalMethods& methods, const wchar_t* prefix, const std::wstring& name) {
  const std::wstring folder = workflow::MaintenanceLogFolder(base::TemporaryPath(), ProductIdOf(methods));
  ::CreateDirectoryW(folder.c_str(), nullptr);
  SYSTEMTIME now;
  ::GetSystemTime(&now);
  return workflow::MaintenanceLogFile(folder, prefix, name, now);
}

// The braced product code, or empty (logged) when it is not a product code.
std::wstring CheckedProductCode(base::Log* log, const wchar_t* method, const std::wstring& code) {
  std::wstring braced = workflow::BracedProductCode(code);
  if (workflow::IsProductCode(braced)) return braced;
  base::LogDebug(log, L"%s: %s is not a product code", method, code.c_str());
  return std::wstring();
}

HRESULT StartUninstallJob(ExternalMethods& methods, std::unique_ptr<workflow::UninstallJob> job,
                          const wchar_t* log_name, IDispatch* callback) {
  job->host = WorkerHostOf(methods);
  if (RunReports* reports = methods.reports()) {
    base::CriticalSection* lock = &methods.lock();
    job->add_log_file = [reports, lock](const std::wstring& path) {
      base::ScopedLock hold(*lock);
      reports->AddUploadFile(path);
    };
  }
  HRESULT hr = job->callback_stream.Marshal(methods.log(), log_name, callback);
  if (FAILED(hr)) return hr;
  if (!htmlui::StartWorkerThread(RunStateOf(methods), workflow::UninstallThreadFunc, job.get())) {
    DWORD error = ::GetLastError();
    return error != ERROR_SUCCESS ? HRESULT_FROM_WIN32(error) : E_FAIL;
  }
  job.release();  // the worker owns it now
  return S_OK;
}

}  // namespace

HRESULT RemoveProgramMethod(ExternalMethods& methods, ScriptCall& call) {
  base::Log* log = methods.log();
  std::unique_ptr<workflow::UninstallJob> job(new (std::nothrow) workflow::UninstallJob);
  if (!job) return E_OUTOFMEMORY;
  const std::wstring name = call.Text(0);
  const bool force_msiexec = call.Bool(1);
  job->log_file = LogFileFor(methods, workflow::kRemoveLogPrefix, name);
  const std::wstring code = CheckedProductCode(log, L"EMRemoveProgram", call.Text(2));
  if (!code.empty()) {
    job->command_line = workflow::RemoveCommandLine(code, job->log_file);
    std::wstring uninstall_string;
    if (!force_msiexec &&
        base::RegistryReadValue(workflow::UninstallKeyPath(code), L"UninstallString", uninstall_string,
                                kUninstallStringBytes) &&
        workflow::UsesOwnUninstallString(uninstall_string)) {
      base::LogDebug(log, L"EMRemoveProgram  uninstallstring : %s", uninstall_string.c_str());
      job->command_line = workflow::OwnUninstallCommandLine(uninstall_string, job->log_file);
    }
  }
  return StartUninstallJob(methods, std::move(job), L"EMRemoveProgram", call.Callback(3));
}

HRESULT RepairProgramMethod(ExternalMethods& methods, ScriptCall& call) {
  std::unique_ptr<workflow::UninstallJob> job(new (std::nothrow) workflow::UninstallJob);
  if (!job) return E_OUTOFMEMORY;
  job->log_file = LogFileFor(methods, workflow::kRepairLogPrefix, call.Text(0));
  const std::wstring code = CheckedProductCode(methods.log(), L"ZSRepairProgram", call.Text(1));
  if (!code.empty()) job->command_line = workflow::RepairCommandLine(code, job->log_file);
  return StartUninstallJob(methods, std::move(job), L"ZSRepairProgram", call.Callback(2));
}

HRESULT VerifyFileInSpecialDirectoryMethod(ExternalMethods& methods, ScriptCall& call) {
  std::unique_ptr<workflow::VerifyJob> job(new (std::nothrow) workflow::VerifyJob);
  if (!job) return E_OUTOFMEMORY;
  job->host = WorkerHostOf(methods);
  job->root_folder = call.Text(0);
  job->relative_path = call.Text(1);
  HRESULT hr = job->callback_stream.Marshal(methods.log(), L"EMVerifyFileInSpecialDirectory", call.Callback(2));
  if (FAILED(hr)) return hr;
  // Raised here rather than by the worker: a cancel that the page sends once
  // this call has returned must reach the search however late it starts.
  if (job->host.run != nullptr) job->host.run->SetKeepSearching(true);
  if (!htmlui::StartWorkerThread(job->host.run, workflow::VerifyThreadFunc, job.get())) {
    DWORD error = ::GetLastError();
    return error != ERROR_SUCCESS ? HRESULT_FROM_WIN32(error) : E_FAIL;
  }
  job.release();
  return S_OK;
}

HRESULT CancelVerifyThreadMethod(ExternalMethods& methods, ScriptCall&) {
  if (htmlui::RunState* run = RunStateOf(methods)) run->SetKeepSearching(false);
  base::LogDebug(methods.log(), L"EMCancelVerifyThread Finish");
  return S_OK;
}

HRESULT SetUninstallRegistryFromStubMethod(ExternalMethods& methods, ScriptCall& call) {
  base::Log* log = methods.log();
  workflow::UninstallEntryRequest request;
  request.braced_code = CheckedProductCode(log, L"SetUninstallRegistryFromStub", call.Text(0));
  request.view64 = call.Bool(1);
  request.product_id = ProductIdOf(methods);
  request.stub_path = workflow::RunningExecutablePath();
  bool written = !request.braced_code.empty() && workflow::WriteUninstallEntry(request);
  base::LogDebug(log, L"SetUninstallRegistryFromStub result: %s", written ? L"success" : L"failed");
  return S_OK;
}

HRESULT IsUninstallModeLaunchMethod(ExternalMethods& methods, ScriptCall& call) {
  std::wstring mode;
  LaunchFacts* launch = methods.launch();
  const bool found = launch != nullptr && launch->uninstall_mode(&mode);
  if (found) {
    base::LockedProperties properties = methods.properties();
    properties.SetProperty(kUninstallModeProperty, mode);
    properties.SetProperty(kDefaultOptionProperty, mode);
  }
  call.ReturnBool(found);
  base::LogDebug(methods.log(), L"EMIsUninstallModeLaunch result: %s", found ? L"true" : L"false");
  return S_OK;
}

}  // namespace stubframework::externalmethods
