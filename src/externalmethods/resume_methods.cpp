#include "externalmethods/resume_methods.h"

#include <string>

#include "externalmethods/external_methods.h"
#include "externalmethods/script_call.h"
#include "workflow/resume_mode.h"
#include "workflow/run_once.h"

namespace stubframework::externalmethods {

namespace {

std::wstring RunOnceName(MethodHost& host) {
  return workflow::RunOnceValueName(host.product_id(), host.product_version());
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
  workflow::WriteRunOnce(RunOnceName(*host), workflow::RunOnceCommand(host->stub_path(), resumable));
  return S_OK;
}

HRESULT UndoRunAfterRebootMethod(ExternalMethods& methods, ScriptCall&) {
  if (MethodHost* host = methods.host()) workflow::DeleteRunOnce(RunOnceName(*host));
  return S_OK;
}

}  // namespace stubframework::externalmethods
