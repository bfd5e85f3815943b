// The window and dialog side of the UI, as start-up and the script methods use
// it: show the pages until the window closes, close, minimise, hide, show,
// drag, size, caption, message boxes and the folder picker. The product's
// host is the MSHTML host window; development builds may supply another (the
// browser host) through the entry function. The bridge, the methods and the
// pages cannot tell which.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "base/log.h"

namespace stubframework::htmlui {

class HtmlExternal;

class UiHost {
 public:
  virtual ~UiHost() = default;

  // Shows the start page and returns when the window has closed; false when
  // no window could be shown.
  virtual bool Run(const std::wstring& start_page) = 0;

  // Owner of dialogs; null while no window exists.
  virtual HWND window() const = 0;
  // Sets the quit flag: true only for the request that set it.
  virtual bool RequestClose() = 0;
  virtual void Minimize() = 0;
  virtual void Hide() = 0;
  virtual void Show() = 0;
  // Moves the window with the mouse until the button is released.
  virtual void Drag() = 0;
  // Client size in 96-DPI units through the placement rule; the size applied
  // last is not applied again.
  virtual void SetWindowSize(int width, int height) = 0;
  // 400 x 200 while the client area is still empty.
  virtual void ApplyDefaultSize() = 0;
  virtual void SetCaption(const std::wstring& caption) = 0;
  // A modal box with MessageBoxW's type flags. Its answer (IDOK, IDYES, ...);
  // 0 when it could not be shown.
  virtual int ShowMessageBox(const std::wstring& text, const std::wstring& caption, UINT type) = 0;
  // The folder the user picked; `initial` unchanged when cancelled or failed.
  virtual std::wstring PickFolder(const std::wstring& initial) = 0;
};

// Builds the host for a run: `args` as CommandLineToArgvW gives them, program
// name first; the bridge and the log outlive the host. Null: no UI can be
// shown.
using UiHostFactory = std::unique_ptr<UiHost> (*)(const std::vector<std::wstring>& args, HtmlExternal* bridge,
                                                  base::Log* log);

}  // namespace stubframework::htmlui
