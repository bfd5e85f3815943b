// The product's host: the borderless "HTMLUI" window with the MSHTML document.
#pragma once

#include "htmlui/ui_host.h"

namespace stubframework::htmlui {

class MshtmlUiHost : public UiHost {
 public:
  // The bridge must outlive the host.
  explicit MshtmlUiHost(HtmlExternal* bridge) : bridge_(bridge) {}

  bool Run(const std::wstring& start_page) override;
  HWND window() const override;
  bool RequestClose() override;
  void Minimize() override;
  void Hide() override;
  void Show() override;
  void Drag() override;
  void SetWindowSize(int width, int height) override;
  void ApplyDefaultSize() override;
  void SetCaption(const std::wstring& caption) override;
  int ShowMessageBox(const std::wstring& text, const std::wstring& caption, UINT type) override;
  std::wstring PickFolder(const std::wstring& initial) override;

 private:
  HtmlExternal* bridge_;
};

// The product's UI host factory: the MSHTML window, whatever the arguments say.
std::unique_ptr<UiHost> MakeMshtmlUiHost(const std::vector<std::wstring>& args, HtmlExternal* bridge, base::Log* log);

}  // namespace stubframework::htmlui
