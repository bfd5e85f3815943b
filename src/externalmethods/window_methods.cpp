#include "base/log.h"
#include "externalmethods/window_methods.h"

#include <string>

#include "externalmethods/external_methods.h"
#include "externalmethods/script_call.h"
#include "htmlui/ui_host.h"

namespace stubframework::externalmethods {

namespace {

void RequestClose(ExternalMethods& methods) {
  if (htmlui::UiHost* host = methods.ui_host()) host->RequestClose();
}

}  // namespace

HRESULT CloseWindowMethod(ExternalMethods& methods, ScriptCall&) {
  RequestClose(methods);
  return S_OK;
}

HRESULT SetWindowSizeMethod(ExternalMethods& methods, ScriptCall& call) {
  LONG width = call.Int(0);
  LONG height = call.Int(1);
  base::LogDebug(methods.log(), L"ZSWindowSize: %d", width);
  if (htmlui::UiHost* host = methods.ui_host()) host->SetWindowSize(width, height);
  return S_OK;
}

HRESULT MessageBoxExitMethod(ExternalMethods& methods, ScriptCall& call) {
  std::wstring message = call.Text(0);
  std::wstring caption = call.Text(1);
  base::LogDebug(methods.log(), L"EMMessageBoxExit: %s %s", message.c_str(), caption.c_str());
  htmlui::UiHost* host = methods.ui_host();
  if (host == nullptr || host->ShowMessageBox(message, caption, MB_ICONQUESTION | MB_YESNO) != IDYES) return S_OK;
  base::LogDebug(methods.log(), L"ZSClose");
  RequestClose(methods);
  return S_OK;
}

HRESULT MinimizeWindowMethod(ExternalMethods& methods, ScriptCall&) {
  if (htmlui::UiHost* host = methods.ui_host()) host->Minimize();
  base::LogDebug(methods.log(), L"EMMinimizeWindow");
  return S_OK;
}

HRESULT HideWindowMethod(ExternalMethods& methods, ScriptCall&) {
  if (htmlui::UiHost* host = methods.ui_host()) host->Hide();
  base::LogDebug(methods.log(), L"EMHideWindow");
  return S_OK;
}

HRESULT ShowWindowMethod(ExternalMethods& methods, ScriptCall&) {
  if (htmlui::UiHost* host = methods.ui_host()) host->Show();
  base::LogDebug(methods.log(), L"EMShowWindow");
  return S_OK;
}

HRESULT DragWindowMethod(ExternalMethods& methods, ScriptCall&) {
  if (htmlui::UiHost* host = methods.ui_host()) host->Drag();
  return S_OK;
}

HRESULT TerminateWindowMethod(ExternalMethods&, ScriptCall&) {
  // No closing steps: no report, no log copy, no clean-up.
  ::TerminateProcess(::GetCurrentProcess(), 0);
  return S_OK;
}

}  // namespace stubframework::externalmethods
