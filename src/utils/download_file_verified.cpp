#include "utils/download_file_verified.h"

#include <algorithm>

#include "base/property_bag.h"
#include "base/unique_handle.h"
#include "downloader/download_logger.h"
#include "downloader/download_simple_task.h"
#include "downloader/final_results.h"
#include "downloader/object.h"
#include "downloader/result_codes.h"

namespace stubframework::utils {
namespace {

constexpr HRESULT kDownloadFailure = static_cast<HRESULT>(0x800C0008);  // INET_E_DOWNLOAD_FAILURE

// Bridges a DownloadSimpleTask to a waiting worker and to the application.
class DownloadCallback : public downloader::IDownloadCallback {
 public:
  explicit DownloadCallback(const utils::DownloadHost* host)
      : host_(host), event_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
  }
  bool Constructed() const { return static_cast<bool>(event_); }
  ~DownloadCallback() {
    if (task_ != nullptr) task_->Release();
  }

  void SetTask(downloader::ITask* task) {
    task->AddRef();
    task_ = task;
  }
  // Waits for the end; a stop request cancels the task even when no
  // progress report comes to notice it.
  void Wait(const utils::DownloadHost& host) {
    bool cancelled = false;
    while (::WaitForSingleObject(event_.Get(), kStopPollMs) == WAIT_TIMEOUT) {
      if (!cancelled && host.CancelRequested()) {
        task_->Cancel();
        cancelled = true;
      }
    }
  }
  HRESULT result() const { return result_; }
  downloader::int64 reached() const { return reached_; }

  void OnComplete(long hr) override {
    result_ = utils::MapVerifiedDownloadResult(hr);
    ::SetEvent(event_.Get());
  }

  void OnProgress(downloader::int64 current, downloader::int64 total) override {
    if (current > reached_) reached_ = current;
    if (host_->properties != nullptr) {
      host_->properties->SetDownloadTotal(static_cast<unsigned long>(total));
      host_->properties->SetDownloadCurrent(static_cast<unsigned long>(current));
    }
    if (host_->CancelRequested()) task_->Cancel();
  }

 private:
  const utils::DownloadHost* host_;
  base::UniqueHandle event_;
  downloader::ITask* task_ = nullptr;
  HRESULT result_ = kDownloadFailure;
  downloader::int64 reached_ = 0;  // written by the task's thread before OnComplete
};

}  // namespace


HRESULT MapVerifiedDownloadResult(long result) {
  result = downloader::NormalizeResult(result);
  if (result == downloader::kResultOk || result == downloader::kResultAbort ||
      result == downloader::kResultDiskFull || result == downloader::kResultBlockUnverifiable ||
      downloader::IsFinalResult(result)) {
    return result;
  }
  return kDownloadFailure;
}

HRESULT RunVerifiedTask(const DownloadHost& host, const VerifiedTaskMaker& make, long long* reached) {
  downloader::ILogger* logger = downloader::CreateDownloadLogger(host.log);
  if (logger == nullptr) return E_OUTOFMEMORY;
  auto* callback = downloader::details::Object<DownloadCallback>::Create(&host);
  downloader::ITask* task = callback == nullptr ? nullptr : make(callback, logger);
  HRESULT result = E_OUTOFMEMORY;
  if (task != nullptr) {
    callback->SetTask(task);
    task->Start();
    callback->Wait(host);
    result = callback->result();
    if (reached != nullptr) *reached = callback->reached();
    task->Release();
  }
  if (callback != nullptr) callback->Release();
  logger->Release();
  return result;
}

HRESULT DownloadFileVerified(const DownloadHost& host, const std::wstring& url, const std::wstring& metaUrl,
                             const std::wstring& path, const std::string* meta, long long* reached) {
  if (url.empty() || metaUrl.empty() || path.empty()) return E_OUTOFMEMORY;
  return RunVerifiedTask(
      host,
      [&](downloader::IDownloadCallback* callback, downloader::ILogger* logger) {
        return downloader::CreateDownloadSimpleTask(url, metaUrl, path, callback, logger, meta);
      },
      reached);
}

bool PauseUnlessStopped(const DownloadHost& host, DWORD pause_ms) {
  const DWORD begun = ::GetTickCount();
  for (;;) {
    if (host.CancelRequested()) return false;
    DWORD elapsed = ::GetTickCount() - begun;
    if (elapsed >= pause_ms) return true;
    ::Sleep(std::min<DWORD>(pause_ms - elapsed, kStopPollMs));
  }
}

}  // namespace stubframework::utils
