#include "workflow/installer_list_update.h"

#include <wininet.h>

#include <memory>

#include "workflow/bridge_download_host.h"
#include "workflow/reported_transfer.h"

namespace stubframework::workflow {

namespace {

constexpr wchar_t kNewFileMark[] = L"__NEW_FILE__";

void RunInstallerListJob(InstallerListJob& job, htmlui::PageCallback& callback) {
  base::Log* log = job.host.log;
  base::LockedProperties properties = job.host.properties();
  utils::DownloadHost host = BridgeDownloadHost(job.host, &properties);
  ReporterContext context(
      properties, [&callback](int code, uint64_t total, uint64_t current) { callback.Call(code, total, current); },
      job.url);
  if (job.host.bridge != nullptr) job.host.bridge->SetCancel(false);

  const std::wstring new_file = NewListFile(job.download_file);
  TransferRequest request{job.url, new_file, job.is_secure, job.is_resume, false};
  int code = RunReportedTransfer(context, host, request, job.transfer);
  if (code == kNoError) {
    if (::MoveFileExW(new_file.c_str(), job.download_file.c_str(), MOVEFILE_REPLACE_EXISTING)) {
      ::DeleteUrlCacheEntryW(job.url.c_str());
      base::LogDebug(log, L"Update installerlist %s finished to %s", job.url.c_str(), job.download_file.c_str());
    } else {
      // The old list stays; the page must not take the new one as in place.
      base::LogDebug(log, L"Update installerlist %s: moving %s failed with %u", job.url.c_str(), new_file.c_str(),
                     ::GetLastError());
      code = kFailure;
    }
  }
  FinishReportedJob(context, callback, code);
}

}  // namespace

std::wstring NewListFile(const std::wstring& download_file) {
  size_t name_start = download_file.find_last_of(L"\\/");
  name_start = name_start == std::wstring::npos ? 0 : name_start + 1;
  size_t dot = download_file.rfind(L'.');
  if (dot == std::wstring::npos || dot < name_start) return download_file + kNewFileMark;
  std::wstring temporary = download_file;
  temporary.insert(dot, kNewFileMark);
  return temporary;
}

DWORD WINAPI UpdateInstallerListThreadFunc(void* param) {
  std::unique_ptr<InstallerListJob> job(static_cast<InstallerListJob*>(param));
  htmlui::PageCallback callback(job->host.log, L"UpdateInstallerListThreadFunc", job->callback_stream.Detach());
  if (callback.connected()) RunInstallerListJob(*job, callback);
  return 0;
}

}  // namespace stubframework::workflow
