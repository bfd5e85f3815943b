#include "htmlui/mshtml_ui_host.h"

#include "htmlui/folder_picker.h"
#include "htmlui/host_window.h"
#include "htmlui/html_external.h"

namespace stubframework::htmlui {

namespace {

// SC_MOVE combined with HTCAPTION: the system drags the window with the mouse.
constexpr WPARAM kMoveByCaption = 0xF012;

}  // namespace

bool MshtmlUiHost::Run(const std::wstring& start_page) { return CreateAndRunHostWindow(start_page, bridge_); }

// The window procedure gives the bridge the handle at creation and takes it
// back at destruction.
HWND MshtmlUiHost::window() const { return bridge_ == nullptr ? nullptr : bridge_->window(); }

bool MshtmlUiHost::RequestClose() { return htmlui::RequestClose(window()); }

void MshtmlUiHost::Minimize() { ::ShowWindow(window(), SW_MINIMIZE); }
void MshtmlUiHost::Hide() { ::ShowWindow(window(), SW_HIDE); }
void MshtmlUiHost::Show() { ::ShowWindow(window(), SW_SHOW); }

void MshtmlUiHost::Drag() {
  if (HWND host = window()) ::SendMessageW(host, WM_SYSCOMMAND, kMoveByCaption, 0);
}

void MshtmlUiHost::SetWindowSize(int width, int height) {
  if (bridge_ != nullptr) bridge_->SetWindowSize(width, height);
}

void MshtmlUiHost::ApplyDefaultSize() {
  if (bridge_ != nullptr) bridge_->ApplyDefaultSize();
}

void MshtmlUiHost::SetCaption(const std::wstring& caption) {
  if (HWND host = window()) ::SetWindowTextW(host, caption.c_str());
}

int MshtmlUiHost::ShowMessageBox(const std::wstring& text, const std::wstring& caption, UINT type) {
  return ::MessageBoxW(window(), text.c_str(), caption.c_str(), type);
}

std::wstring MshtmlUiHost::PickFolder(const std::wstring& initial) { return PickFolderDialog(window(), initial); }

std::unique_ptr<UiHost> MakeMshtmlUiHost(const std::vector<std::wstring>&, HtmlExternal* bridge, base::Log*) {
  return std::make_unique<MshtmlUiHost>(bridge);
}

}  // namespace stubframework::htmlui
