#include "workflow/installer_list_update.h"

#include <wininet.h>

#include <memory>

#include "utils/companion_url.h"
#include "utils/signed_meta.h"
#include "utils/tokenize_url.h"
#include "workflow/bridge_download_host.h"
#include "workflow/reported_transfer.h"

namespace stubframework::workflow {

namespace {

constexpr wchar_t kNewFileMark[] = L"__NEW_FILE__";

// With a release key the new list is script the pages will run: it is used
// only when its signature (the list's URL + ".sig", fetched as the list was)
// verifies; otherwise it is removed and the old list stays.
int CheckSignedList(const InstallerListJob& job, const std::wstring& new_file) {
  std::wstring signature_url = utils::CompanionUrl(job.url, utils::kSignatureSuffix);
  if (job.is_secure) {
    if (job.transfer.tokenize) {
      job.transfer.tokenize(signature_url);
    } else {
      utils::TokenizeUrl(signature_url);
    }
  }
  const utils::SignedMetaStatus status = utils::CheckSignedFile(job.host.release_key, new_file, signature_url);
  if (status == utils::SignedMetaStatus::kValid) return kNoError;
  base::LogDebug(job.host.log, L"Update installerlist %s refused: %s (%s)", job.url.c_str(),
                 status == utils::SignedMetaStatus::kNoMeta ? L"the list cannot be read"
                 : status == utils::SignedMetaStatus::kNoSignature ? L"the list has no signature"
                                                                   : L"the list's signature does not verify",
                 signature_url.c_str());
  ::DeleteFileW(new_file.c_str());
  return kFailure;
}

void RunInstallerListJob(InstallerListJob& job, htmlui::PageCallback& callback) {
  base::Log* log = job.host.log;
  base::LockedProperties properties = job.host.properties();
  utils::DownloadHost host = BridgeDownloadHost(job.host, &properties);
  ReporterContext context(
      properties, [&callback](int code, uint64_t total, uint64_t current) { callback.Call(code, total, current); },
      job.url);
  if (job.host.run != nullptr) job.host.run->SetCancel(false);

  const std::wstring new_file = NewListFile(job.download_file);
  TransferRequest request{job.url, new_file, job.is_secure, job.is_resume, false};
  int code = RunReportedTransfer(context, host, request, job.transfer);
  if (code == kNoError && job.host.release_key.present()) code = CheckSignedList(job, new_file);
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
