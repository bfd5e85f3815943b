#include "base/log.h"
#include "workflow/transfer_download_error.h"

#include <wininet.h>

#include <algorithm>

#include "base/wide_format.h"
#include "downloader/final_results.h"
#include "downloader/result_codes.h"
#include "utils/companion_url.h"
#include "utils/download_file_verified.h"
#include "utils/download_url_to_file.h"
#include "utils/signed_meta.h"
#include "utils/tokenize_url.h"
#include "workflow/several_sources_transfer.h"

namespace stubframework::workflow {

namespace {

struct ResultMapping {
  HRESULT hr;
  ErrorHandle code;
};

// Anything not listed is kUnknowError.
constexpr ResultMapping kTransferResults[] = {
    {S_OK, kNoError},
    {S_FALSE, kFailure},
    {static_cast<HRESULT>(0x800C0005), kFailure},  // INET_E_RESOURCE_NOT_FOUND
    {static_cast<HRESULT>(0x800C0008), kFailure},  // INET_E_DOWNLOAD_FAILURE
    {static_cast<HRESULT>(0x800C000B), kFailure},  // INET_E_CONNECTION_TIMEOUT
    {static_cast<HRESULT>(0x800C0014), kFailure},  // INET_E_REDIRECT_FAILED: too many hops, or one leaving TLS
    {static_cast<HRESULT>(0x800C0019), kFailure},  // INET_E_INVALID_CERTIFICATE: every certificate refusal
    {static_cast<HRESULT>(0x8007112B), kFailure},  // the target is a link: never written through
    {static_cast<HRESULT>(0x80070070), kDiskFull},  // ERROR_DISK_FULL as an HRESULT
    {static_cast<HRESULT>(0x800C0006), kFileNotExist},  // INET_E_OBJECT_NOT_FOUND
    {E_ABORT, kAbort},
    {static_cast<HRESULT>(0x80091007), kMd5Error},  // a block failed its hash download after download
};

// One line per attempt; a result no retry can change says so.
int MapAndLog(const utils::DownloadHost& host, HRESULT hr) {
  hr = downloader::NormalizeResult(hr);
  if (host.log != nullptr) {
    if (hr == downloader::kResultCertificateRefused) {
      host.log->Debug(L"TransferDownloadError HRESULT: %x (the server's certificate was refused; not retried)", hr);
    } else if (hr == downloader::kResultRedirectFailed) {
      host.log->Debug(L"TransferDownloadError HRESULT: %x (too many redirects, or one leaving TLS; not retried)", hr);
    } else if (hr == downloader::kResultTargetIsLink) {
      host.log->Debug(L"TransferDownloadError HRESULT: %x (the target or a folder on its way is a link; not retried)", hr);
    } else {
      host.log->Debug(L"TransferDownloadError HRESULT: %x", hr);
    }
  }
  return MapTransferResult(hr);
}

void Tokenize(const TransferSettings& settings, std::wstring& url, base::Log* log) {
  if (settings.tokenize) {
    settings.tokenize(url);
  } else {
    utils::TokenizeUrl(url, log);
  }
}

// With `meta`, every attempt proves the blocks against those bytes and
// fetches no .meta of its own. Attempts go on while they get further: once
// none has for `stall_limit_ms` (a server that always goes silent at the same
// place), retrying cannot help.
int VerifiedTransfer(const utils::DownloadHost& host, const std::wstring& url, const std::wstring& meta_url,
                     const std::wstring& path, const TransferSettings& settings, const std::string* meta = nullptr) {
  int code = kUnknowError;
  downloader::int64 furthest = -1;
  DWORD last_progress = ::GetTickCount();
  for (int attempt = 1;; ++attempt) {
    downloader::int64 reached = 0;
    const HRESULT hr = utils::DownloadFileVerified(host, url, meta_url, path, meta, &reached);
    code = MapAndLog(host, hr);
    if (reached > furthest) {
      furthest = reached;
      last_progress = ::GetTickCount();
    }
    if (!IsRetryable(code) || downloader::IsFinalResult(hr) || attempt >= kMaxTransferAttempts) break;
    if (::GetTickCount() - last_progress >= settings.stall_limit_ms) {
      if (host.log != nullptr) {
        host.log->Debug(L"Download %s: no attempt got further for %u ms; not retried", url.c_str(),
                        settings.stall_limit_ms);
      }
      break;
    }
    if (!utils::PauseUnlessStopped(host, settings.retry_pause_ms)) return kAbort;
  }
  return code;
}

// With a release key: the .meta must be signed before the transfer begins;
// the download proves every block against those very bytes (it fetches no
// copy of its own), which then stay beside the file for the check at the
// moment of use.
int SignedTransfer(const utils::DownloadHost& host, const std::wstring& url, const std::wstring& meta_url,
                   const std::wstring& signature_url, const std::wstring& path, const TransferSettings& settings) {
  downloader::Buffer meta;
  downloader::Buffer signature;
  utils::SignedMetaStatus status = utils::SignedMetaStatus::kNoMeta;
  // A fetch that failed is tried again as a transfer is; a bad signature is not.
  for (int attempt = 1;; ++attempt) {
    status = utils::FetchSignedMeta(host.release_key, meta_url, signature_url, &meta, &signature,
                                    [&host] { return host.CancelRequested(); });
    if (host.CancelRequested()) return kAbort;
    if (status == utils::SignedMetaStatus::kValid || status == utils::SignedMetaStatus::kBadSignature ||
        attempt >= kMaxTransferAttempts) {
      break;
    }
    if (!utils::PauseUnlessStopped(host, settings.retry_pause_ms)) return kAbort;
  }
  if (status != utils::SignedMetaStatus::kValid) {
    base::LogDebug(host.log, L"Download %s refused: %s (%s)", url.c_str(), utils::SignedMetaProblem(status),
                   signature_url.c_str());
    return kFailure;
  }
  const std::string signed_meta(reinterpret_cast<const char*>(meta.data()), meta.size());
  int code = VerifiedTransfer(host, url, meta_url, path, settings, &signed_meta);
  if (code != kNoError) return code;
  if (!utils::StoreSignedMeta(path, meta, signature)) {
    base::LogDebug(host.log, L"Download %s: the signed .meta could not be kept beside %s", url.c_str(), path.c_str());
    return kFailure;
  }
  return kNoError;
}

int PlainTransfer(const utils::DownloadHost& host, const TransferRequest& request, const std::wstring& url,
                  const TransferSettings& settings) {
  SYSTEMTIME now;
  ::GetSystemTime(&now);
  const std::wstring request_url = TimestampedUrl(url, now);
  utils::UrlDownloadOptions options;
  options.stop = [&host] { return host.CancelRequested(); };
  options.idle_timeout_ms = settings.receive_timeout_ms;
  options.unchecked_content = !request.crc_follows;
  int code = kUnknowError;
  int budget = kMaxTransferAttempts;
  ULONG furthest = 0;
  for (;;) {
    utils::DownloadCallback progress(&host);
    const HRESULT hr = utils::DownloadUrlToFile(request_url, request.download_file, &progress, options);
    code = MapAndLog(host, hr);
    if (!IsRetryable(code) || downloader::IsFinalResult(hr)) break;
    // Every attempt starts again from the first byte: only one that gets
    // further than all before it is progress (one that always breaks off at
    // the same place would otherwise refill the budget forever).
    budget = NextAttemptBudget(budget, progress.bytes_received() > furthest);
    furthest = std::max(furthest, progress.bytes_received());
    if (budget <= 0) break;
    if (!utils::PauseUnlessStopped(host, settings.retry_pause_ms)) return kAbort;
  }
  return code;
}

}  // namespace

ErrorHandle MapTransferResult(HRESULT hr) {
  for (const ResultMapping& row : kTransferResults) {
    if (row.hr == hr) return row.code;
  }
  return kUnknowError;
}

bool IsRetryable(int code) { return code == kFailure || code == kUnknowError; }

int NextAttemptBudget(int budget, bool made_progress) { return made_progress ? kMaxTransferAttempts : budget - 1; }

std::wstring TimestampedUrl(const std::wstring& url, const SYSTEMTIME& utc) {
  const wchar_t* separator = url.find(L'?') == std::wstring::npos ? L"?" : L"&";
  return url + separator + L"timestamp=" +
         base::Format(L"%4d%02d%02d%02d%02d%02d%3d", utc.wYear, utc.wMonth, utc.wDay, utc.wHour, utc.wMinute,
                       utc.wSecond, utc.wMilliseconds);
}

bool CanConnect(const std::wstring& url) {
  return ::InternetCheckConnectionW(url.c_str(), FLAG_ICC_FORCE_CONNECTION, 0) != FALSE;
}

int TransferDownloadError(const utils::DownloadHost& host, const TransferRequest& request,
                          const TransferSettings& settings) {
  std::wstring url = request.url;
  std::wstring meta_url = utils::CompanionUrl(url, utils::kMetaSuffix);
  std::wstring signature_url = utils::CompanionUrl(url, utils::kMetaSignatureSuffix);
  if (request.is_secure) {
    Tokenize(settings, url, host.log);
    Tokenize(settings, meta_url, host.log);
    if (host.release_key.present()) Tokenize(settings, signature_url, host.log);
  }
  int code = kUnknowError;
  if (!request.is_resume) {
    code = PlainTransfer(host, request, url, settings);
  } else if (UsesSeveralSources(request.mirrors, request.connections)) {
    code = TransferFromSources(host, url, request.mirrors, request.connections, request.download_file,
                               settings.retry_pause_ms, [&](std::wstring& mirror) {
                                 if (request.is_secure) Tokenize(settings, mirror, host.log);
                               });
  } else if (host.release_key.present()) {
    code = SignedTransfer(host, url, meta_url, signature_url, request.download_file, settings);
  } else {
    code = VerifiedTransfer(host, url, meta_url, request.download_file, settings);
  }
  if ((code == kFailure || code == kFileNotExist) && !CanConnect(url)) code = kNoNetwork;
  return code;
}

}  // namespace stubframework::workflow
