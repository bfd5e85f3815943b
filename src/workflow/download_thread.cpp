#include "base/log.h"
#include "workflow/extracted_packages.h"
#include "workflow/download_thread.h"

#include <shlwapi.h>
#include <wininet.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "archive/file_crc.h"
#include "base/unique_handle.h"
#include "base/wide_format.h"
#include "htmlui/html_external.h"
#include "workflow/bridge_download_host.h"
#include "workflow/download_properties.h"
#include "workflow/extract_in_download.h"
#include "workflow/progress_record.h"
#include "workflow/progress_reporters.h"
#include "workflow/source_options.h"

namespace stubframework::workflow {

namespace {

bool FileExists(const std::wstring& path) {
  DWORD attributes = ::GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

std::wstring RootOf(const std::wstring& path) {
  std::vector<wchar_t> root(path.begin(), path.end());
  root.resize(std::max<size_t>(root.size() + 1, MAX_PATH), L'\0');
  ::PathStripToRootW(root.data());
  return root.data();
}

// kNoError when a valid copy is on disk already, kMd5Error when a copy
// without resume has another CRC (it is downloaded again all the same), else
// kRunning.
int PreCheck(base::Log* log, const DownloadJob& job) {
  if (!FileExists(job.download_file)) return kRunning;
  base::LogDebug(log, L"File %s exists", job.url.c_str());
  if (job.crc.empty()) return kRunning;
  std::wstring crc;
  bool computed = FileCrcText(job.download_file, &crc);
  bool equal = computed && crc == job.crc;
  if (equal) return kNoError;
  if (job.is_resume) return kRunning;
  if (computed) {
    // "dismatch": the fixed log text that log readers search for, not a typo to fix.
    base::LogDebug(log, L"File %s crc dismatch", job.download_file.c_str());
  } else {
    base::LogDebug(log, L"File %s get crc failed", job.download_file.c_str());
  }
  return kMd5Error;
}

int Transfer(base::Log* log, DownloadJob& job, ReporterContext& context, const utils::DownloadHost& host) {
  base::UniqueHandle reporter(::CreateThread(nullptr, 0, DownloadProgressThreadFunc, &context, 0, nullptr));
  TransferRequest request{job.url, job.download_file, job.is_secure, job.is_resume, !job.crc.empty()};
  request.mirrors = context.properties.GetProperty(kDownloadMirrors);
  request.connections = context.properties.GetProperty(kDownloadConnections);
  int result = TransferDownloadError(host, request, job.transfer);
  if (result == kNoError) {
    // Nothing to delete from the URL cache: neither path writes to it.
    CompleteTransferCount(context.properties);
    if (reporter) {
      // The count is whole: the reporter publishes it, stores kNoError and
      // ends (joined below).
      context.Wake();
    } else {
      context.SetResult(kNoError);
    }
    if (!job.crc.empty()) result = CheckDownloadedCrc(log, job.download_file, job.crc);
  } else if (result == kAbort) {
    context.SetResult(kAbort);
  } else {
    context.SetResult(result);
    base::LogDebug(log, L"Download fail, download path : %s, download result : %x", job.download_file.c_str(),
                   result);
  }
  if (reporter) ::WaitForSingleObject(reporter.Get(), INFINITE);
  base::LogDebug(log, L"Download %s finished to %s", job.url.c_str(), job.download_file.c_str());
  return result;
}

void RunDownloadJob(DownloadJob& job, htmlui::PageCallback& callback) {
  base::Log* log = job.host.log;
  htmlui::HtmlExternal* bridge = job.host.bridge;
  base::LockedProperties properties = job.host.properties();
  utils::DownloadHost host = BridgeDownloadHost(job.host, &properties);

  int result = kRunning;
  const std::wstring root = RootOf(job.download_file);
  ReporterContext context(
      properties, [&callback](int code, uint64_t total, uint64_t current) { callback.Call(code, total, current); },
      job.url);
  if (job.host.run != nullptr) job.host.run->SetCancel(false);

  result = PreCheck(log, job);
  const bool extract = ShouldExtractInDownload(job.url, properties.GetProperty(kIsExtractInDownload),
                                               properties.GetProperty(kIsDownloadOnly));
  if (extract) properties.SetProperty(kExtractInDownloadProgress, kTrue);

  if (result != kNoError) {
    if (IsVolumeReadOnly(root, job.volume_flags)) {
      base::LogDebug(log, L"Download volume is read only %s", root.c_str());
      result = kVolumeReadOnly;
    } else if (job.download_file.size() >= MAX_PATH) {
      // Windows refuses such a path to a program that does not declare long
      // paths; refused here before anything is created, so every system (Wine
      // has no such limit) ends the same way.
      base::LogDebug(log, L"Download target of %u characters is too long", static_cast<unsigned>(job.download_file.size()));
      result = kFailure;
    } else {
      result = Transfer(log, job, context, host);
    }
  }

  if (extract) {
    if (result == kNoError) {
      std::wstring record_key = job.host.settings_key.empty() ? std::wstring() : ExtractFoldersKey(job.host.settings_key);
      result = ExtractInDownload(log, bridge, context, job.download_file, record_key, job.host.download_folders);
    }
    properties.SetProperty(base::kDownloadCurrent, properties.GetProperty(base::kDownloadTotal));
    properties.SetProperty(kExtractInDownloadProgress, kFalse);
  }

  ProgressRecord last;
  {
    base::ScopedLock hold(context.lock);
    context.record.result = result;
    last = context.record;
  }
  properties.SetDownloadCurrent(0);
  properties.SetDownloadTotal(1);
  callback.Call(result, last.total, last.current);
}

}  // namespace

void CompleteTransferCount(base::LockedProperties& properties) {
  if (properties.GetDownloadCurrent() < properties.GetDownloadTotal()) {
    properties.SetProperty(base::kDownloadCurrent, properties.GetProperty(base::kDownloadTotal));
  }
}

bool QueryVolumeFlags(const std::wstring& root, DWORD* flags) {
  return ::GetVolumeInformationW(root.c_str(), nullptr, 0, nullptr, nullptr, flags, nullptr, 0) != FALSE;
}

bool IsVolumeReadOnly(const std::wstring& root, VolumeFlagsQuery query) {
  DWORD flags = 0;
  return query != nullptr && query(root.substr(0, 3), &flags) && (flags & FILE_READ_ONLY_VOLUME) != 0;
}

bool FileCrcText(const std::wstring& path, std::wstring* text) {
  uint32_t crc = 0;
  if (!archive::FileCrc(path, &crc)) return false;
  *text = base::Format(L"%u", crc);
  return true;
}

int CheckDownloadedCrc(base::Log* log, const std::wstring& path, const std::wstring& crc) {
  std::wstring computed;
  if (!FileCrcText(path, &computed)) {
    base::LogDebug(log, L"Downloaded File %s get crc failed", path.c_str());
    return kMd5Error;
  }
  if (computed != crc) {
    // The fixed log text, as above.
    base::LogDebug(log, L"Downloaded File %s crc dismatch", path.c_str());
    return kMd5Error;
  }
  return kNoError;
}

DWORD WINAPI DownloadThreadFunc(void* param) {
  std::unique_ptr<DownloadJob> job(static_cast<DownloadJob*>(param));
  htmlui::PageCallback callback(job->host.log, L"DownloadThreadFunc", job->callback_stream.Detach());
  if (callback.connected()) RunDownloadJob(*job, callback);
  return 0;
}

}  // namespace stubframework::workflow
