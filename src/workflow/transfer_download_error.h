// One file's transfer with its retries, reduced to an error-handle code:
// block-verified and resumable through the download engine, or a plain URL
// download with a cache-busting parameter.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "downloader/timeouts.h"
#include "utils/download_host.h"
#include "workflow/error_handle.h"

namespace stubframework::workflow {

inline constexpr int kMaxTransferAttempts = 10;
inline constexpr DWORD kRetryPauseMs = 1000;

struct TransferRequest {
  std::wstring url;
  std::wstring download_file;
  bool is_secure = false;
  bool is_resume = false;
  // A CRC check of the file follows a plain download; without one, the plain
  // download refuses bodies it cannot prove whole.
  bool crc_follows = false;
  // The page's mirrors and connection count (source_options.h); empty: one
  // request to `url`, as always.
  std::wstring mirrors;
  std::wstring connections;
};

// What the product always uses; tests shorten the pause and point the
// tokenizer at a local service.
struct TransferSettings {
  DWORD retry_pause_ms = kRetryPauseMs;
  DWORD receive_timeout_ms = downloader::kReceiveTimeoutMs;  // a plain download that hears nothing this long fails
  // A verified download stops retrying once its attempts have got no further
  // for this long (each attempt is bounded the same way inside).
  DWORD stall_limit_ms = downloader::kStalledTransferLimitMs;
  std::function<bool(std::wstring& url)> tokenize;  // empty: utils::TokenizeUrl
};

// Runs the transfer, logging each attempt's HRESULT, and returns its code.
// Attempts that end in kFailure or kUnknowError are retried; kFailure and
// kFileNotExist become kNoNetwork when a forced connection check fails. A stop
// request ends it with kAbort within about kStopPollMs, also between attempts.
int TransferDownloadError(const utils::DownloadHost& host, const TransferRequest& request,
                          const TransferSettings& settings = TransferSettings());

// An attempt's HRESULT as an error-handle code.
ErrorHandle MapTransferResult(HRESULT hr);

// Whether a failed attempt with this code is tried again.
bool IsRetryable(int code);

// The attempts left after a failed plain download: a try that received data
// earns a full budget again, one that did not uses one up.
int NextAttemptBudget(int budget, bool made_progress);

// `url` with "timestamp=<UTC time>" appended after "?" or "&": year, month,
// day, hour, minute and second in digits, then the milliseconds padded to
// three characters with blanks.
std::wstring TimestampedUrl(const std::wstring& url, const SYSTEMTIME& utc);

// Whether a connection to the URL's server can be made now.
bool CanConnect(const std::wstring& url);

}  // namespace stubframework::workflow
