#include "externalmethods/install_methods.h"

#include <memory>
#include <new>
#include <string>

#include "downloader/download_clock.h"
#include "externalmethods/external_methods.h"
#include "externalmethods/script_call.h"
#include "externalmethods/worker_host_of.h"
#include "htmlui/html_external.h"
#include "htmlui/page_callback.h"
#include "htmlui/ui_host.h"
#include "workflow/install_job.h"
#include "workflow/install_params.h"
#include "workflow/install_thread.h"

namespace stubframework::externalmethods {

namespace {

// The job's copy of what the worker needs from the application.
void FillFromHost(ExternalMethods& methods, workflow::InstallJob& job) {
  job.host = WorkerHostOf(methods);
  if (LaunchFacts* launch = methods.launch()) {
    job.product_id = launch->product_id();
    job.stub_path = launch->stub_path();
  }
  if (RunStore* store = methods.store()) job.resume_mode = store->resume_mode();
  if (RunReports* reports = methods.reports()) {
    base::CriticalSection* lock = &methods.lock();
    job.add_log_file = [reports, lock](const std::wstring& path) {
      base::ScopedLock hold(*lock);
      reports->AddUploadFile(path);
    };
  }
}

}  // namespace

HRESULT InstallMethod(ExternalMethods& methods, ScriptCall& call) {
  base::Log* log = methods.log();
  LaunchFacts* launch = methods.launch();
  std::unique_ptr<workflow::InstallJob> job(new (std::nothrow) workflow::InstallJob);
  if (!job) return E_OUTOFMEMORY;
  job->shortcut = call.Text(0);
  job->install_file = call.Text(1);
  const std::wstring param = call.Text(2);
  const LONG estimated_time = call.Int(3);
  job->estimated_time = estimated_time;  // sign-extended

  // The difference of the two clock readings, as a signed 32-bit number.
  const std::wstring download_time =
      workflow::DownloadTimeParam(static_cast<int>(downloader::DownloadTimeSeconds()));
  job->params = workflow::BuildInstallParams(launch != nullptr ? launch->passthrough() : std::wstring(), param,
                                             download_time, launch != nullptr && launch->silent_launch());
  FillFromHost(methods, *job);
  base::LogDebug(log, L"EMInstall params %ld, %s, %s, %s", static_cast<long>(estimated_time), param.c_str(),
                 download_time.c_str(), job->install_file.c_str());

  HRESULT hr = job->callback_stream.Marshal(log, L"EMInstall", call.Callback(4));
  if (FAILED(hr)) return hr;
  // An installer with UI of its own shows it instead of the stub's window.
  if (!workflow::IsSilentInstall(job->params)) {
    if (htmlui::UiHost* ui = methods.ui_host()) ui->Hide();
  }
  if (!htmlui::StartWorkerThread(RunStateOf(methods), workflow::InstallThreadFunc, job.get())) {
    DWORD error = ::GetLastError();
    return error != ERROR_SUCCESS ? HRESULT_FROM_WIN32(error) : E_FAIL;
  }
  job.release();  // the worker owns it now
  base::LogDebug(log, L"EMInstall -- Finish");
  return S_OK;
}

HRESULT GetLastInstallErrorMethod(ExternalMethods& methods, ScriptCall& call) {
  htmlui::RunState* run = RunStateOf(methods);
  const DWORD raw = run != nullptr ? run->last_install_error() : 0;
  base::LogDebug(methods.log(), L"EMGetLastInstallError ErrorCode: %ld", static_cast<long>(raw));
  call.ReturnUnsigned(raw);
  return S_OK;
}

}  // namespace stubframework::externalmethods
