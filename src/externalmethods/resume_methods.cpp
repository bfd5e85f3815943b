#include "externalmethods/resume_methods.h"

#include <string>

#include "externalmethods/external_methods.h"
#include "externalmethods/script_call.h"
#include "workflow/resume_mode.h"
#include "workflow/run_once.h"
#include "workflow/self_update.h"
#include "workflow/uninstall_entry.h"

namespace stubframework::externalmethods {

namespace {

std::wstring RunOnceName(LaunchFacts& launch) {
  return workflow::RunOnceValueName(launch.product_id(), launch.product_version());
}

std::wstring FileNameOf(const std::wstring& path) {
  const size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

// The running image (the launcher's copy of what the user started) under the
// name the user's file has.
std::wstring ProtectedResumeCopy(LaunchFacts& launch) {
  const std::wstring running = workflow::RunningExecutablePath();
  std::wstring name = FileNameOf(launch.stub_path());
  if (name.empty()) name = FileNameOf(running);
  return workflow::PlaceStubCopy(std::wstring(), launch.product_id(), running, name);
}

}  // namespace

HRESULT GetResumeModeMethod(ExternalMethods& methods, ScriptCall& call) {
  RunStore* store = methods.store();
  call.ReturnInt(store != nullptr ? store->resume_mode() : workflow::kResumeNone);
  return S_OK;
}

HRESULT RunAfterRebootMethod(ExternalMethods& methods, ScriptCall& call) {
  const std::wstring mode = call.Text(0);
  base::LogDebug(methods.log(), L"EMRunAfterReboot %s", mode.c_str());
  LaunchFacts* launch = methods.launch();
  // The entry runs elevated at the next logon: no other text goes into its command line.
  const wchar_t* resumable = workflow::ResumableMode(mode);
  if (launch == nullptr || resumable == nullptr) return S_OK;
  // It starts a copy in the protected all-users folder, not the user's own
  // file (in a folder the user can write, replaceable before the next logon).
  const std::wstring copy = ProtectedResumeCopy(*launch);
  if (copy.empty()) {
    base::LogDebug(methods.log(), L"EMRunAfterReboot: no protected copy of the stub, no entry");
    return S_OK;
  }
  workflow::WriteRunOnce(RunOnceName(*launch), workflow::RunOnceCommand(copy, resumable));
  return S_OK;
}

HRESULT UndoRunAfterRebootMethod(ExternalMethods& methods, ScriptCall&) {
  if (LaunchFacts* launch = methods.launch()) workflow::DeleteRunOnce(RunOnceName(*launch));
  return S_OK;
}

}  // namespace stubframework::externalmethods
