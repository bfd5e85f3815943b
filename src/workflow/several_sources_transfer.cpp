#include "workflow/several_sources_transfer.h"

#include <algorithm>

#include "base/property_bag.h"
#include "base/unique_handle.h"
#include "downloader/buffer.h"
#include "downloader/download_logger.h"
#include "downloader/final_results.h"
#include "downloader/multi_source_task.h"
#include "downloader/object.h"
#include "utils/companion_url.h"
#include "utils/download_file_verified.h"
#include "utils/signed_meta.h"
#include "utils/verify_file.h"
#include "workflow/transfer_download_error.h"

namespace stubframework::workflow {
namespace {

// Bridges the task to the waiting worker: progress to the properties, the
// stop flag to a cancel (also when no progress report comes).
class SourcesCallback : public downloader::IDownloadCallback {
 public:
  explicit SourcesCallback(const utils::DownloadHost* host)
      : host_(host), event_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
  ~SourcesCallback() {
    if (task_ != nullptr) task_->Release();
  }
  bool Constructed() const { return static_cast<bool>(event_); }

  void Run(downloader::ITask* task) {
    task->AddRef();
    task_ = task;
    task->Start();
    bool cancelled = false;
    while (::WaitForSingleObject(event_.Get(), utils::kStopPollMs) == WAIT_TIMEOUT) {
      if (!cancelled && host_->CancelRequested()) {
        task_->Cancel();
        cancelled = true;
      }
    }
  }
  HRESULT result() const { return result_; }

  void OnComplete(long hr) override {
    result_ = utils::MapVerifiedDownloadResult(hr);
    ::SetEvent(event_.Get());
  }
  void OnProgress(downloader::int64 current, downloader::int64 total) override {
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
  HRESULT result_ = static_cast<HRESULT>(0x800C0008);  // INET_E_DOWNLOAD_FAILURE until the end says otherwise
};

bool PauseUnlessStopped(const utils::DownloadHost& host, DWORD pause_ms) {
  const DWORD begun = ::GetTickCount();
  for (;;) {
    if (host.CancelRequested()) return false;
    DWORD elapsed = ::GetTickCount() - begun;
    if (elapsed >= pause_ms) return true;
    ::Sleep(std::min<DWORD>(pause_ms - elapsed, utils::kStopPollMs));
  }
}

// The signed .meta from the first mirror whose .meta and signature arrive.
utils::SignedMetaStatus FetchFirstSignedMeta(const utils::DownloadHost& host, const SourceOptions& options,
                                             downloader::Buffer* meta, downloader::Buffer* signature) {
  utils::SignedMetaStatus status = utils::SignedMetaStatus::kNoMeta;
  for (const std::wstring& url : options.urls) {
    status = utils::FetchSignedMeta(host.release_key, utils::CompanionUrl(url, utils::kMetaSuffix),
                                    utils::CompanionUrl(url, utils::kMetaSignatureSuffix), meta, signature,
                                    [&host] { return host.CancelRequested(); });
    if (status == utils::SignedMetaStatus::kValid || status == utils::SignedMetaStatus::kBadSignature) break;
    if (host.CancelRequested()) break;
  }
  return status;
}

}  // namespace

HRESULT DownloadFromSources(const utils::DownloadHost& host, const SourceOptions& options, const std::wstring& path,
                            const std::string* meta) {
  downloader::MultiSourceRequest request;
  request.urls = options.urls;
  for (const std::wstring& url : options.urls) request.meta_urls.push_back(utils::CompanionUrl(url, utils::kMetaSuffix));
  request.path = path;
  request.connections = options.connections;
  if (meta != nullptr) {
    request.has_meta = true;
    request.meta = *meta;
  }
  downloader::ILogger* logger = downloader::CreateDownloadLogger(host.log);
  if (logger == nullptr) return E_OUTOFMEMORY;
  auto* callback = downloader::details::Object<SourcesCallback>::Create(&host);
  downloader::ITask* task =
      callback == nullptr ? nullptr : downloader::CreateMultiSourceTask(request, callback, logger);
  HRESULT result = E_OUTOFMEMORY;
  if (task != nullptr) {
    callback->Run(task);
    result = callback->result();
    task->Release();
  }
  if (callback != nullptr) callback->Release();
  logger->Release();
  return result;
}

int SeveralSourcesTransfer(const utils::DownloadHost& host, const SourceOptions& options, const std::wstring& path,
                           DWORD pause_ms) {
  downloader::Buffer meta_bytes;
  downloader::Buffer signature;
  std::string meta;
  const bool signed_meta = host.release_key.present();
  if (signed_meta) {
    utils::SignedMetaStatus status = utils::SignedMetaStatus::kNoMeta;
    for (int attempt = 1;; ++attempt) {
      status = FetchFirstSignedMeta(host, options, &meta_bytes, &signature);
      if (host.CancelRequested()) return kAbort;
      if (status == utils::SignedMetaStatus::kValid || status == utils::SignedMetaStatus::kBadSignature ||
          attempt >= kMaxTransferAttempts) {
        break;
      }
      if (!PauseUnlessStopped(host, pause_ms)) return kAbort;
    }
    if (status != utils::SignedMetaStatus::kValid) {
      base::LogDebug(host.log, L"Download %s refused: %s (from any of %u sources)", options.urls[0].c_str(),
                     utils::SignedMetaProblem(status), static_cast<unsigned>(options.urls.size()));
      return kFailure;
    }
    meta.assign(reinterpret_cast<const char*>(meta_bytes.data()), meta_bytes.size());
  }
  int code = kUnknowError;
  for (int attempt = 1;; ++attempt) {
    HRESULT hr = downloader::NormalizeResult(DownloadFromSources(host, options, path, signed_meta ? &meta : nullptr));
    base::LogDebug(host.log, L"TransferDownloadError HRESULT: %x (%u sources, %d connections)", hr,
                   static_cast<unsigned>(options.urls.size()), options.connections);
    code = MapTransferResult(hr);
    if (!IsRetryable(code) || downloader::IsFinalResult(hr) || attempt >= kMaxTransferAttempts) break;
    if (!PauseUnlessStopped(host, pause_ms)) return kAbort;
  }
  if (code != kNoError || !signed_meta) return code;
  if (!utils::VerifyFileWithMeta(path, meta_bytes)) {
    base::LogDebug(host.log, L"Download %s refused: the file does not match its signed .meta", options.urls[0].c_str());
    return kFailure;
  }
  if (!utils::StoreSignedMeta(path, meta_bytes, signature)) {
    base::LogDebug(host.log, L"Download %s: the signed .meta could not be kept beside %s", options.urls[0].c_str(),
                   path.c_str());
    return kFailure;
  }
  return kNoError;
}

int TransferFromSources(const utils::DownloadHost& host, const std::wstring& url, const std::wstring& mirrors,
                        const std::wstring& connections, const std::wstring& path, DWORD pause_ms,
                        const std::function<void(std::wstring& url)>& tokenize) {
  SourceOptions options;
  std::wstring problem;
  if (!ParseSourceOptions(url, mirrors, connections, &options, &problem)) {
    base::LogDebug(host.log, L"Download %s refused: %s", url.c_str(), problem.c_str());
    return kFailure;
  }
  for (size_t i = 1; i < options.urls.size(); ++i) tokenize(options.urls[i]);
  return SeveralSourcesTransfer(host, options, path, pause_ms);
}

}  // namespace stubframework::workflow
