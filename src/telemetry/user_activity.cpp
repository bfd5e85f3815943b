#include "telemetry/user_activity.h"

#include <windows.h>
#include <objbase.h>

#include <memory>
#include <new>
#include <utility>

#include "telemetry/service_client.h"

namespace stubframework::telemetry {

namespace {

struct ActivityJob {
  ServiceEndpoint endpoint;
  std::string document;
  std::wstring activity;
  base::Log* log;
};

DWORD WINAPI TrackUserActivityThreadFunc(void* parameter) {
  std::unique_ptr<ActivityJob> job(static_cast<ActivityJob*>(parameter));
  HRESULT joined = ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  if (!CallService(job->endpoint, L"POST", kUserActivityPath, std::move(job->document), false,
                   utils::kActivityDeadlineMs, job->log)
           .accepted()) {
    // "Tread" as log readers search for it: a fixed text, not a typo to fix.
    base::LogError(job->log, L"TrackUserActivityTreadFunc track activity:%s failed!", job->activity.c_str());
  }
  job.reset();
  if (SUCCEEDED(joined)) ::CoUninitialize();
  return 0;
}

}  // namespace

bool StartUserActivityReport(base::WorkerSet* workers, const ServiceEndpoint& endpoint, std::string document,
                             const std::wstring& activity, base::Log* log) {
  if (workers == nullptr) return false;
  std::unique_ptr<ActivityJob> job(new (std::nothrow) ActivityJob{endpoint, std::move(document), activity, log});
  if (!job || !workers->Start(TrackUserActivityThreadFunc, job.get())) return false;
  job.release();  // the thread owns it now
  return true;
}

}  // namespace stubframework::telemetry
