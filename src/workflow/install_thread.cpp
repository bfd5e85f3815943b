#include "workflow/install_thread.h"

#include <windows.h>
#include <rpc.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <memory>

#include "base/log.h"
#include "base/temp_folder.h"
#include "base/unique_handle.h"
#include "sysinfo/system_info.h"
#include "utils/held_file.h"
#include "workflow/install_executable.h"
#include "workflow/install_msi.h"
#include "workflow/install_params.h"
#include "workflow/progress_record.h"
#include "workflow/progress_reporters.h"
#include "workflow/resume_manager.h"

namespace stubframework::workflow {

namespace {

constexpr wchar_t kFallbackGuid[] = L"9C744C24-0382-430A-AF86-F520008F5C6F";

bool FileExists(const std::wstring& path) {
  DWORD attributes = ::GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

void DeleteDesktopFile(base::Log* log, const std::wstring& name) {
  if (!IsBareFileName(name)) {
    base::LogDebug(log, L"Shortcut %s is not a file name; nothing deleted", name.c_str());
    return;
  }
  wchar_t desktop[MAX_PATH] = {};
  if (FAILED(::SHGetFolderPathW(nullptr, CSIDL_DESKTOPDIRECTORY, nullptr, SHGFP_TYPE_CURRENT, desktop))) return;
  ::DeleteFileW((base::WithTrailingBackslash(desktop) + name).c_str());
}

// Steps 4 to 10 of a run: the parameters with their placeholders filled and
// the resume-manager record written.
std::wstring PrepareParams(const InstallJob& job, InstallerKind kind, const InstallLogPaths& logs) {
  std::wstring params = job.params;
  if (kind != InstallerKind::kMsi) ReplaceFirst(params, kLogFilePlaceholder, Quoted(logs.log));
  ReplaceFirst(params, kStubPathPlaceholder, Quoted(job.stub_path));

  const std::wstring& settings_key = job.host.settings_key;
  const bool resumed = job.resume_mode != 0;
  ResumeManagerRecord record;
  if (!settings_key.empty()) record = OpenResumeManagerRecord(settings_key, resumed);
  std::wstring guid = NewRunGuid();
  // The record sits under HKCU and its guid goes into the installer's command
  // line: only text of a GUID's shape is taken back.
  if (resumed && record.complete && IsGuidText(record.guid)) guid = record.guid;

  std::wstring launch_on_exit;
  if (ApplyLaunchOnExitGuid(params, guid, &launch_on_exit) && !settings_key.empty()) {
    WriteResumeLaunchOnExit(settings_key, launch_on_exit);
  }
  if (!settings_key.empty()) WriteResumeGuid(settings_key, guid);
  return params;
}

int RunInstaller(const InstallerRun& run, const InstallJob& job, InstallerKind kind, const std::wstring& params,
                 const InstallLogPaths& logs) {
  switch (kind) {
    case InstallerKind::kMsi:
      return InstallMsi(run, job.install_file, params, logs.log);
    case InstallerKind::kZip:
      return InstallZipPackage(run, job.install_file, params, job.estimated_time);
    case InstallerKind::kExecutable:
      return InstallExecutable(run, job.install_file, params, job.estimated_time);
    case InstallerKind::kNone:
      break;
  }
  return kFileNotExist;
}

// With a release key, the file is proved against its signed .meta and held
// against writing and deleting until the installer has ended; false (logged)
// when it cannot be.
bool HoldForInstall(const InstallJob& job, base::UniqueHandle* held) {
  if (!job.host.release_key.present()) return true;
  const utils::UseCheck check = utils::HoldVerifiedFile(job.host.release_key, job.install_file, held);
  if (check == utils::UseCheck::kVerified) return true;
  base::LogDebug(job.host.log, L"Install %s refused: the file %s", job.install_file.c_str(),
                 utils::UseCheckProblem(check));
  return false;
}

void RunInstallJob(InstallJob& job, htmlui::PageCallback& callback) {
  base::Log* log = job.host.log;
  base::LockedProperties properties = job.host.properties();
  ReporterContext context(
      properties, [&callback](int code, uint64_t total, uint64_t current) { callback.Call(code, total, current); },
      job.install_file);
  InstallerRun run{log, &properties, job.host.bridge, job.tick_ms};
  run.extract_checked_package = job.host.release_key.present();
  run.run_state = job.host.run;

  base::UniqueHandle reporter;
  base::UniqueHandle held;  // the checked file, unchangeable until the installer has ended
  int code = kFileNotExist;
  const InstallerKind kind = InstallerKindOf(job.install_file);
  if (kind != InstallerKind::kNone && !HoldForInstall(job, &held)) {
    code = kFailure;
  } else if (kind != InstallerKind::kNone) {
    InstallLogPaths logs = MakeInstallLogPaths(base::TemporaryPath(), job.product_id, sysinfo::Timestamp());
    ::CreateDirectoryW(logs.folder.c_str(), nullptr);
    const std::wstring params = PrepareParams(job, kind, logs);

    // A count left at or past its total by an earlier job would end the
    // reporter before this installer has shown anything.
    properties.SetInstallCurrent(0);
    reporter.Reset(::CreateThread(nullptr, 0, InstallProgressThreadFunc, &context, 0, nullptr));
    code = RunInstaller(run, job, kind, params, logs);

    if (code == kNoError) {
      if (reporter) {
        // The installer has stored its whole count: the reporter publishes
        // it, stores kNoError and ends.
        context.Wake();
        ::WaitForSingleObject(reporter.Get(), INFINITE);
      }
      if (!job.shortcut.empty()) DeleteDesktopFile(log, job.shortcut);
    }
    for (const std::wstring& path : {logs.log, logs.xml_log}) {
      if (FileExists(path) && job.add_log_file) job.add_log_file(path);
    }
  }
  if (code != kNoError && code != kAbort) {
    base::LogDebug(log, L"Install fail, install path : %s, install result : %x", job.install_file.c_str(), code);
  }

  context.SetResult(code);  // the reporter stops
  if (reporter) ::WaitForSingleObject(reporter.Get(), INFINITE);
  ProgressRecord last;
  {
    base::ScopedLock hold(context.lock);
    last = context.record;
  }
  properties.SetInstallCurrent(0);
  properties.SetInstallTotal(1);
  callback.Call(code, last.total, last.current);
}

}  // namespace

InstallerKind InstallerKindOf(const std::wstring& install_file) {
  const wchar_t* extension = ::PathFindExtensionW(install_file.c_str());
  if (::lstrcmpiW(extension, L".msi") == 0) return InstallerKind::kMsi;
  if (::lstrcmpiW(extension, L".exe") == 0) return InstallerKind::kExecutable;
  if (::lstrcmpiW(extension, L".zip") == 0) return InstallerKind::kZip;
  return InstallerKind::kNone;
}

InstallLogPaths MakeInstallLogPaths(const std::wstring& temp_path, const std::wstring& product_id,
                                    const std::wstring& timestamp) {
  InstallLogPaths paths;
  paths.folder = base::WithTrailingBackslash(temp_path) + product_id + L"_log\\";
  paths.log = paths.folder + L"log_" + timestamp + L".txt";
  paths.xml_log = paths.folder + L"log.txt.xml";
  return paths;
}

bool IsBareFileName(const std::wstring& name) {
  return !name.empty() && name != L"." && name != L".." && name.find_first_of(L"\\/:") == std::wstring::npos &&
         name.find(L'\0') == std::wstring::npos;
}

std::wstring NewRunGuid() {
  GUID guid;
  if (FAILED(::CoCreateGuid(&guid))) return kFallbackGuid;
  RPC_WSTR text = nullptr;
  if (::UuidToStringW(&guid, &text) != RPC_S_OK || text == nullptr) return kFallbackGuid;
  std::wstring result(reinterpret_cast<wchar_t*>(text));
  ::RpcStringFreeW(&text);
  return result;
}

DWORD WINAPI InstallThreadFunc(void* param) {
  std::unique_ptr<InstallJob> job(static_cast<InstallJob*>(param));
  // A worker that cannot reach the page ends without a word.
  htmlui::PageCallback callback(nullptr, L"InstallThreadFunc", job->callback_stream.Detach());
  if (callback.connected()) RunInstallJob(*job, callback);
  return 0;
}

}  // namespace stubframework::workflow
