// The block-verified download from several sources (mirrors, connections)
// as one blocking call with its retries, for the download worker.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "utils/download_host.h"
#include "workflow/source_options.h"

namespace stubframework::workflow {

// Runs MultiSourceTask over `options` (URLs already tokenized where that
// applies) to `path`, attempt after attempt while the failure is one another
// attempt may mend, pausing `pause_ms` between. With a release key the .meta
// must be signed: it is taken from the first mirror whose .meta and
// signature both arrive, a bad signature refuses the download, and the
// signed .meta is kept beside the file. Returns an error-handle code.
int SeveralSourcesTransfer(const utils::DownloadHost& host, const SourceOptions& options, const std::wstring& path,
                           DWORD pause_ms);

// The download worker's way in: parses the page's options for `url`
// (refused: a log line and kFailure), passes every mirror through
// `tokenize`, and runs SeveralSourcesTransfer.
int TransferFromSources(const utils::DownloadHost& host, const std::wstring& url, const std::wstring& mirrors,
                        const std::wstring& connections, const std::wstring& path, DWORD pause_ms,
                        const std::function<void(std::wstring& url)>& tokenize);

// One run of the task, blocking; the helper's HRESULT (see
// utils::MapVerifiedDownloadResult). `meta` non-null: the .meta is not fetched.
HRESULT DownloadFromSources(const utils::DownloadHost& host, const SourceOptions& options, const std::wstring& path,
                            const std::string* meta);

}  // namespace stubframework::workflow
