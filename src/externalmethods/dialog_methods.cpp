#include "externalmethods/dialog_methods.h"

#include <string>

#include "base/log.h"
#include "externalmethods/external_methods.h"
#include "externalmethods/script_call.h"
#include "externalmethods/shell_launch.h"
#include "htmlui/ui_host.h"

namespace stubframework::externalmethods {

namespace {

constexpr wchar_t kTrue[] = L"true";

// The box's answer; 0, as for a box that cannot be shown, while no window is.
int Ask(ExternalMethods& methods, const std::wstring& message, const std::wstring& caption, UINT type) {
  htmlui::UiHost* host = methods.ui_host();
  return host == nullptr ? 0 : host->ShowMessageBox(message, caption, type);
}

void RequestClose(ExternalMethods& methods) {
  base::LogDebug(methods.log(), L"ZSClose");
  if (htmlui::UiHost* host = methods.ui_host()) host->RequestClose();
}

}  // namespace

HRESULT MessageBoxMethod(ExternalMethods& methods, ScriptCall& call) {
  const std::wstring message = call.Text(0);
  const std::wstring caption = call.Text(1);
  base::LogDebug(methods.log(), L"ZSMessageBox: %s %s", message.c_str(), caption.c_str());
  Ask(methods, message, caption, MB_OK);
  return S_OK;
}

HRESULT MessageBoxCancelMethod(ExternalMethods& methods, ScriptCall& call) {
  const std::wstring message = call.Text(0);
  const std::wstring caption = call.Text(1);
  // The same words as messageBoxExit.
  base::LogDebug(methods.log(), L"EMMessageBoxExit: %s %s", message.c_str(), caption.c_str());
  if (Ask(methods, message, caption, MB_ICONQUESTION | MB_YESNO) != IDYES) return S_OK;
  base::LogDebug(methods.log(), L"ZSClose");
  methods.properties().SetProperty(L"CancelYes", kTrue);
  base::LogDebug(methods.log(), L"EMSetProperty %s, %s", L"CancelYes", kTrue);
  return S_OK;
}

HRESULT MessageBoxErrorMethod(ExternalMethods& methods, ScriptCall& call) {
  const std::wstring message = call.Text(0);
  const std::wstring caption = call.Text(1);
  base::LogDebug(methods.log(), L"EMMessageBoxError: %s %s", message.c_str(), caption.c_str());
  // Whatever the answer, and also when no box could be shown.
  Ask(methods, message, caption, MB_ICONWARNING);
  methods.properties().SetProperty(L"MsgOK", kTrue);
  RequestClose(methods);
  return S_OK;
}

HRESULT ConfirmMessageBoxMethod(ExternalMethods& methods, ScriptCall& call) {
  // Only Cancel (the close box included) says no; a box that could not be shown says yes.
  const bool confirmed = Ask(methods, call.Text(0), call.Text(1), MB_OKCANCEL) != IDCANCEL;
  base::LogDebug(methods.log(), L"EMConfirmMessageBox Result : %s", confirmed ? L"Close" : L"Cancel Close");
  call.ReturnBool(confirmed);
  return S_OK;
}

HRESULT SelectFolderMethod(ExternalMethods& methods, ScriptCall& call) {
  const std::wstring initial = call.Text(0);
  htmlui::UiHost* host = methods.ui_host();
  const std::wstring chosen = host == nullptr ? initial : host->PickFolder(initial);
  base::LogDebug(methods.log(), L"EMSelectFolder args %s, Result %s", initial.c_str(), chosen.c_str());
  return call.ReturnText(chosen);
}

HRESULT OpenPageMethod(ExternalMethods& methods, ScriptCall& call) {
  const std::wstring url = call.Text(0);
  const bool opened = ShellLaunch(url, std::wstring()) >= 0;
  base::LogDebug(methods.log(), L"ZSOpenPage: %s, result: %s", url.c_str(), opened ? L"success" : L"fail");
  call.ReturnBool(opened);
  return S_OK;
}

}  // namespace stubframework::externalmethods
