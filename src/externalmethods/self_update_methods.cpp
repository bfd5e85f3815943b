#include "externalmethods/self_update_methods.h"

#include <memory>
#include <new>
#include <string>

#include "externalmethods/external_methods.h"
#include "externalmethods/script_call.h"
#include "externalmethods/worker_host_of.h"
#include "htmlui/page_callback.h"
#include "workflow/installer_list_update.h"
#include "workflow/self_update.h"

namespace stubframework::externalmethods {

namespace {

HRESULT StartWorker(ExternalMethods& methods, LPTHREAD_START_ROUTINE worker, void* job) {
  if (htmlui::StartWorkerThread(RunStateOf(methods), worker, job)) return S_OK;
  DWORD error = ::GetLastError();
  return error != ERROR_SUCCESS ? HRESULT_FROM_WIN32(error) : E_FAIL;
}

}  // namespace

HRESULT IsSkipSelfUpdateMethod(ExternalMethods& methods, ScriptCall& call) {
  LaunchFacts* launch = methods.launch();
  const bool skip = launch != nullptr && launch->skip_self_update();
  base::LogDebug(methods.log(), L"EMIsSkipUpdate Result: %s", skip ? L"skipUpdate" : L"update");
  call.ReturnBool(skip);
  return S_OK;
}

HRESULT IsNeedSelfUpdateMethod(ExternalMethods& methods, ScriptCall& call) {
  const std::wstring exe = workflow::RunningExecutablePath();
  const bool need = !exe.empty() && workflow::IsNeedSelfUpdate(call.Text(0), exe);
  base::LogDebug(methods.log(), L"EMIsNeedSelfUpdate Result: %s", need ? L"need update" : L"not need update");
  call.ReturnBool(need);
  return S_OK;
}

HRESULT SelfUpdateMethod(ExternalMethods& methods, ScriptCall& call) {
  std::unique_ptr<workflow::SelfUpdateJob> job(new (std::nothrow) workflow::SelfUpdateJob);
  if (!job) return E_OUTOFMEMORY;
  job->host = WorkerHostOf(methods);
  job->url = call.Text(0);
  job->self_path = workflow::RunningExecutablePath();
  if (SelfUpdateHandover* handover = methods.handover()) {
    base::CriticalSection* lock = &methods.lock();
    job->store_stub_name = [handover, lock](const std::wstring& name) {
      base::ScopedLock hold(*lock);
      handover->StoreUpdateStubName(name);
    };
    job->store_exit_code = [handover, lock] {
      base::ScopedLock hold(*lock);
      handover->StoreSelfUpdateExitCode();
    };
  }
  HRESULT hr = job->callback_stream.Marshal(methods.log(), L"ZSUpdateSelf", call.Callback(1));
  if (FAILED(hr)) return hr;
  hr = StartWorker(methods, workflow::SelfUpdateThreadFunc, job.get());
  if (SUCCEEDED(hr)) job.release();  // the worker owns it now
  return hr;
}

HRESULT UpdateInstallerListMethod(ExternalMethods& methods, ScriptCall& call) {
  base::Log* log = methods.log();
  std::unique_ptr<workflow::InstallerListJob> job(new (std::nothrow) workflow::InstallerListJob);
  if (!job) return E_OUTOFMEMORY;
  job->host = WorkerHostOf(methods);
  job->url = call.Text(0);
  job->download_file = call.Text(1);
  // Logged as the script passed them: -1 for true, 0 for false.
  const VARIANT_BOOL secure = call.Arg(2).boolVal;
  const VARIANT_BOOL resume = call.Arg(3).boolVal;
  job->is_secure = secure == VARIANT_TRUE;
  job->is_resume = resume == VARIANT_TRUE;
  base::LogDebug(log, L"EMUpdateInstallerList %s %s %d %d", job->url.c_str(), job->download_file.c_str(), secure,
                 resume);
  HRESULT hr = job->callback_stream.Marshal(log, L"EMUpdateInstallerList", call.Callback(4));
  if (FAILED(hr)) return hr;
  hr = StartWorker(methods, workflow::UpdateInstallerListThreadFunc, job.get());
  if (FAILED(hr)) return hr;
  job.release();
  base::LogDebug(log, L"EMUpdateInstallerList -- Finish");
  return S_OK;
}

}  // namespace stubframework::externalmethods
