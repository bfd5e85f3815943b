#include "externalmethods/download_methods.h"

#include <memory>
#include <new>
#include <string>

#include "base/wide_format.h"
#include "downloader/download_clock.h"
#include "externalmethods/external_methods.h"
#include "externalmethods/script_call.h"
#include "externalmethods/worker_host_of.h"
#include "htmlui/html_external.h"
#include "htmlui/page_callback.h"
#include "utils/download_url_to_file.h"
#include "utils/tokenize_url.h"
#include "workflow/bridge_download_host.h"
#include "workflow/download_job.h"
#include "workflow/download_thread.h"

namespace stubframework::externalmethods {

namespace {

constexpr wchar_t kSizeQuerySuffix[] = L".temp";

// A script boolean as it came: -1 for true, 0 for false.
VARIANT_BOOL ScriptBool(const ScriptCall& call, UINT index) { return call.Arg(index).boolVal; }

}  // namespace

HRESULT DownloadMethod(ExternalMethods& methods, ScriptCall& call) {
  base::Log* log = methods.log();
  std::unique_ptr<workflow::DownloadJob> job(new (std::nothrow) workflow::DownloadJob);
  if (!job) return E_OUTOFMEMORY;
  job->host = WorkerHostOf(methods);
  job->url = call.Text(0);
  job->download_file = call.Text(1);
  job->crc = call.Text(2);
  const VARIANT_BOOL secure = ScriptBool(call, 3);
  const VARIANT_BOOL resume = ScriptBool(call, 4);
  job->is_secure = secure == VARIANT_TRUE;
  job->is_resume = resume == VARIANT_TRUE;
  base::LogDebug(log, L"EMDownload params %d, %d, %s, %s, %s", resume, secure, job->crc.c_str(),
                 job->download_file.c_str(), job->url.c_str());
  HRESULT hr = job->callback_stream.Marshal(log, L"EMDownload", call.Callback(5));
  if (FAILED(hr)) return hr;
  if (!htmlui::StartWorkerThread(RunStateOf(methods), workflow::DownloadThreadFunc, job.get())) {
    DWORD error = ::GetLastError();
    return error != ERROR_SUCCESS ? HRESULT_FROM_WIN32(error) : E_FAIL;
  }
  job.release();  // the worker owns it now
  base::LogDebug(log, L"EMDownload -- Finish");
  return S_OK;
}

HRESULT StopDownloadMethod(ExternalMethods& methods, ScriptCall&) {
  if (htmlui::RunState* run = RunStateOf(methods)) run->SetCancel(true);
  return S_OK;
}

HRESULT InitDownloadSizeMethod(ExternalMethods& methods, ScriptCall& call) {
  std::wstring url = call.Text(0);
  const std::wstring temp_file = call.Text(1) + kSizeQuerySuffix;
  if (ScriptBool(call, 2) == VARIANT_TRUE) utils::TokenizeUrl(url, methods.log());

  htmlui::RunState* run = RunStateOf(methods);
  base::LockedProperties properties = methods.properties();
  utils::DownloadHost host = workflow::BridgeDownloadHost(WorkerHostOf(methods), &properties);
  if (run != nullptr) run->SetSizeQuery(true);
  utils::DownloadCallback progress(&host);
  // Ends as soon as the size is known; its result says nothing more.
  utils::DownloadUrlToFile(url, temp_file, &progress);
  if (run != nullptr) run->SetSizeQuery(false);
  if (::GetFileAttributesW(temp_file.c_str()) != INVALID_FILE_ATTRIBUTES) ::DeleteFileW(temp_file.c_str());
  return S_OK;
}

HRESULT GetDownloadTimePropMethod(ExternalMethods&, ScriptCall& call) {
  // The difference of the two clock readings, as a signed 32-bit number.
  const int seconds = static_cast<int>(downloader::DownloadTimeSeconds());
  return call.ReturnText(base::Format(L"%d", seconds));
}

}  // namespace stubframework::externalmethods
