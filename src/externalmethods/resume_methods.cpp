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

std::wstring RunOnceName(MethodHost& host) {
  return workflow::RunOnceValueName(host.product_id(), host.product_version());
}

std::wstring FileNameOf(const std::wstring& path) {
  const size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

// The running image (the launcher's copy of what the user started) under the
// name the user's file has.
std::wstring ProtectedResumeCopy(MethodHost& host) {
  const std::wstring running = workflow::RunningExecutablePath();
  std::wstring name = FileNameOf(host.stub_path());
  if (name.empty()) name = FileNameOf(running);
  return workflow::PlaceStubCopy(std::wstring(), host.product_id(), running, name);
}

}  // namespace

HRESULT GetResumeModeMethod(ExternalMethods& methods, ScriptCall& call) {
  MethodHost* host = methods.host();
  call.ReturnInt(host != nullptr ? host->resume_mode() : workflow::kResumeNone);
  return S_OK;
}

HRESULT RunAfterRebootMethod(ExternalMethods& methods, ScriptCall& call) {
  const std::wstring mode = call.Text(0);
  base::LogDebug(methods.log(), L"EMRunAfterReboot %s", mode.c_str());
  MethodHost* host = methods.host();
  // The entry runs elevated at the next logon: no other text goes into its command line.
  const wchar_t* resumable = workflow::ResumableMode(mode);
  if (host == nullptr || resumable == nullptr) return S_OK;
  // It starts a copy in the protected all-users folder, not the user's own
  // file (in a folder the user can write, replaceable before the next logon).
  const std::wstring copy = ProtectedResumeCopy(*host);
  if (copy.empty()) {
    base::LogDebug(methods.log(), L"EMRunAfterReboot: no protected copy of the stub, no entry");
    return S_OK;
  }
  workflow::WriteRunOnce(RunOnceName(*host), workflow::RunOnceCommand(copy, resumable));
  return S_OK;
}

HRESULT UndoRunAfterRebootMethod(ExternalMethods& methods, ScriptCall&) {
  if (MethodHost* host = methods.host()) workflow::DeleteRunOnce(RunOnceName(*host));
  return S_OK;
}

}  // namespace stubframework::externalmethods
