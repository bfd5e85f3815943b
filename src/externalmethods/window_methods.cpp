#include "base/log.h"
#include "externalmethods/window_methods.h"

#include <string>

#include "externalmethods/external_methods.h"
#include "externalmethods/script_call.h"
#include "htmlui/ui_host.h"

namespace stubframework::externalmethods {

namespace {

// Null while no window is shown; the methods then do nothing to a window.
htmlui::UiHost* HostOf(ExternalMethods& methods) {
  return methods.host() == nullptr ? nullptr : methods.host()->ui_host();
}

void RequestClose(ExternalMethods& methods) {
  if (htmlui::UiHost* host = HostOf(methods)) host->RequestClose();
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
  if (htmlui::UiHost* host = HostOf(methods)) host->SetWindowSize(width, height);
  return S_OK;
}

HRESULT MessageBoxExitMethod(ExternalMethods& methods, ScriptCall& call) {
  std::wstring message = call.Text(0);
  std::wstring caption = call.Text(1);
  base::LogDebug(methods.log(), L"EMMessageBoxExit: %s %s", message.c_str(), caption.c_str());
  htmlui::UiHost* host = HostOf(methods);
  if (host == nullptr || host->ShowMessageBox(message, caption, MB_ICONQUESTION | MB_YESNO) != IDYES) return S_OK;
  base::LogDebug(methods.log(), L"ZSClose");
  RequestClose(methods);
  return S_OK;
}

}  // namespace stubframework::externalmethods
