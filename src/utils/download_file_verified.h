// The block-verified download as one blocking call for worker threads.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "downloader/interfaces.h"

#include "utils/download_host.h"

namespace stubframework::utils {

// Runs a DownloadSimpleTask to its end. Progress goes to the host's
// "downloadTotal"/"downloadCurrent"; the host's cancel flag stops the download
// at the next progress report, or within kStopPollMs when none comes. Returns S_OK, E_ABORT, 0x80070070 (disk full)
// or 0x800C0008 (any other failure) once the task ran, E_OUTOFMEMORY when it
// could not be created or a string is missing.
// With `meta` (bytes the caller checked), nothing is fetched from `metaUrl`
// and the blocks are proven against exactly those bytes.
// `reached` receives the furthest count of bytes the download reported.
HRESULT DownloadFileVerified(const DownloadHost& host, const std::wstring& url, const std::wstring& metaUrl,
                             const std::wstring& path, const std::string* meta = nullptr, long long* reached = nullptr);

// Runs a block-verified task that `make` creates with the callback and the
// logger it is given, to its end, as DownloadFileVerified runs its own: the
// same progress, stop, result and `reached`.
using VerifiedTaskMaker = std::function<downloader::ITask*(downloader::IDownloadCallback*, downloader::ILogger*)>;
HRESULT RunVerifiedTask(const DownloadHost& host, const VerifiedTaskMaker& make, long long* reached = nullptr);

// The mapping of a task's end to the helper's result.
HRESULT MapVerifiedDownloadResult(long result);

}  // namespace stubframework::utils
