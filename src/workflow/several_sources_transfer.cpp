#include "workflow/several_sources_transfer.h"

#include "downloader/buffer.h"
#include "downloader/final_results.h"
#include "downloader/multi_source_task.h"
#include "utils/companion_url.h"
#include "utils/download_file_verified.h"
#include "utils/signed_meta.h"
#include "utils/verify_file.h"
#include "workflow/transfer_download_error.h"

namespace stubframework::workflow {
namespace {

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
  return utils::RunVerifiedTask(host, [&](downloader::IDownloadCallback* callback, downloader::ILogger* logger) {
    return downloader::CreateMultiSourceTask(request, callback, logger);
  });
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
      if (!utils::PauseUnlessStopped(host, pause_ms)) return kAbort;
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
    if (!utils::PauseUnlessStopped(host, pause_ms)) return kAbort;
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
