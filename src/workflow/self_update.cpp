#include "workflow/self_update.h"

#include <shlwapi.h>
#include <wininet.h>

#include <cwchar>
#include <memory>
#include <vector>

#include "base/unique_handle.h"
#include "trust/same_signer.h"
#include "utils/held_file.h"
#include "utils/signed_meta.h"
#include "utils/companion_url.h"
#include "utils/verify_file.h"
#include "workflow/bridge_download_host.h"
#include "workflow/reported_transfer.h"

namespace stubframework::workflow {

namespace {

constexpr wchar_t kUpdateSuffix[] = L"_update.exe";
constexpr wchar_t kNotInFileName[] = L"\\/:*?\"<>|";
constexpr DWORD kLongestPath = 32768;

bool IsPlainFileName(const std::wstring& name) {
  if (name.empty() || name == L"." || name == L"..") return false;
  for (wchar_t c : name) {
    if (c < 0x20 || std::wcschr(kNotInFileName, c) != nullptr) return false;
  }
  return true;
}

std::wstring FileNameOf(const std::wstring& path) {
  size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

std::wstring FolderOf(const std::wstring& path) {
  size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
}

// Without a key nothing is checked here; the download was checked against its .meta.
int CheckNewerStub(const SelfUpdateJob& job, const std::wstring& target) {
  base::UniqueHandle held;
  if (HoldNewerStub(job.host.release_key, target, job.self_path, &held, job.host.log)) return kNoError;
  held.Reset();
  for (const wchar_t* suffix : {L"", utils::kMetaSuffix, utils::kMetaSignatureSuffix}) {
    ::DeleteFileW((target + suffix).c_str());
  }
  return kFailure;
}

void RunSelfUpdateJob(SelfUpdateJob& job, htmlui::PageCallback& callback) {
  base::Log* log = job.host.log;
  base::LockedProperties properties = job.host.properties();
  utils::DownloadHost host = BridgeDownloadHost(job.host, &properties);
  ReporterContext context(
      properties, [&callback](int code, uint64_t total, uint64_t current) { callback.Call(code, total, current); },
      job.url);

  const std::wstring name = UpdateStubName(job.url, FileNameOf(job.self_path));
  int code = kFailure;
  if (name.empty() || job.self_path.empty()) {
    base::LogDebug(log, L"SelfUpdateThreadFunc: no file name to save %s under", job.url.c_str());
  } else {
    if (job.store_stub_name) job.store_stub_name(name);
    const std::wstring target = FolderOf(job.self_path) + name;
    code = RunReportedTransfer(context, host, TransferRequest{job.url, target, true, true, false}, job.transfer);
    if (code == kNoError && job.host.release_key.present()) code = CheckNewerStub(job, target);
    if (code == kNoError) {
      ::DeleteUrlCacheEntryW(job.url.c_str());
    } else {
      if (code != kAbort) {
        base::LogDebug(log, L"Download fail, download path : %s, download result : %x", target.c_str(), code);
      }
      // What the transfer left is not the new stub: the launcher must not start it.
      if (job.store_stub_name) job.store_stub_name(std::wstring());
    }
  }
  if (job.store_exit_code) job.store_exit_code();
  base::LogDebug(log, L"Download %s finished.", job.url.c_str());
  FinishReportedJob(context, callback, code);
}

}  // namespace

std::wstring RunningExecutablePath() {
  std::vector<wchar_t> path(MAX_PATH);
  for (;;) {
    DWORD length = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return std::wstring();
    if (length < path.size()) return std::wstring(path.data(), length);
    if (path.size() >= kLongestPath) return std::wstring();
    path.resize(path.size() * 2);
  }
}

bool HoldNewerStub(const trust::ReleaseKey& key, const std::wstring& path, const std::wstring& self_path,
                   base::UniqueHandle* held, base::Log* log) {
  const utils::UseCheck use = utils::HoldVerifiedFile(key, path, held);
  if (use != utils::UseCheck::kVerified) {
    base::LogDebug(log, L"Self-update %s refused: the file %s", path.c_str(), utils::UseCheckProblem(use));
    return false;
  }
  const trust::SignerCheck signer = trust::CheckSameSigner(held->Get(), path, self_path);
  if (signer != trust::SignerCheck::kSameSigner) {
    held->Reset();
    base::LogDebug(log, L"Self-update %s refused: the file %s", path.c_str(), trust::SignerCheckProblem(signer));
    return false;
  }
  return true;
}

bool IsNeedSelfUpdate(const std::wstring& url, const std::wstring& exe_path) {
  return !utils::IsFileUpToDate(exe_path, utils::CompanionUrl(url, utils::kMetaSuffix));
}

std::wstring UpdateStubName(const std::wstring& url, const std::wstring& self_name) {
  std::wstring name = ::PathFindFileNameW(url.c_str());
  if (!IsPlainFileName(name)) return std::wstring();
  if (::lstrcmpiW(name.c_str(), self_name.c_str()) == 0) {
    size_t dot = name.rfind(L'.');
    name = name.substr(0, dot) + kUpdateSuffix;
  }
  return name;
}

DWORD WINAPI SelfUpdateThreadFunc(void* param) {
  std::unique_ptr<SelfUpdateJob> job(static_cast<SelfUpdateJob*>(param));
  htmlui::PageCallback callback(job->host.log, L"SelfUpdateThreadFunc", job->callback_stream.Detach());
  if (callback.connected()) RunSelfUpdateJob(*job, callback);
  return 0;
}

}  // namespace stubframework::workflow
