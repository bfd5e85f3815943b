// The browser host: the pages run in a browser that a harness drives, and the
// native side runs here unchanged. The host connects to the harness (loopback
// only), announces the start page, and then serves the page's reads, writes
// and calls of window.external against the bridge on this (the UI) thread.
// A page function handed to native code becomes a PageFunction whose calls go
// to the page and return when the page function has returned; while the host
// waits for that, or for the answer to a message box, it serves the page's
// calls, as an apartment thread serves re-entrant calls.
//
// The conversation nests strictly: every message the page must answer
// ("invoke", "box", "folder") carries a sequence number that its answer
// ("return", "answer") repeats, and "nested" tells the harness whether it
// belongs inside a page call that is being served or stands on its own. A
// page call is answered by "result"; a conversation that stood on its own is
// closed by "done".
//
// A hidden window of its own stands in for the host window: the bridge sizes
// it by the placement rule, and its client size goes to the harness as the
// size of the page's view.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include <nlohmann/json.hpp>

#include "base/log.h"
#include "browserhost/host_channel.h"
#include "browserhost/page_function.h"
#include "browserhost/script_values.h"
#include "browserhost/ui_host_endpoint.h"
#include "htmlui/ui_host.h"

namespace stubframework::htmlui {
class HtmlExternal;
}

namespace stubframework::browserhost {

using htmlui::HtmlExternal;

class ExternalCaller;

inline constexpr wchar_t kBrowserHostWindowClass[] = L"HTMLUIBrowserHost";
// How long a closing page may go on running before the host stops serving it.
inline constexpr DWORD kPageFinishMs = 10000;

class BrowserUiHost : public htmlui::UiHost, private PageFunctionSink {
 public:
  // `token` is the harness's secret for this run; the bridge and the log must
  // outlive the host.
  BrowserUiHost(HtmlExternal* bridge, const UiHostEndpoint& endpoint, std::string token, base::Log* log);
  ~BrowserUiHost() override;
  BrowserUiHost(const BrowserUiHost&) = delete;
  BrowserUiHost& operator=(const BrowserUiHost&) = delete;

  bool Run(const std::wstring& start_page) override;
  HWND window() const override { return window_; }
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
  HRESULT CallPageFunction(const std::string& id, const nlohmann::json& args, nlohmann::json* value,
                           std::wstring* error) override;

  bool CreateStandInWindow();
  void RunLoop();
  // After a close request the page's script goes on until its current task
  // ends, as a document's script runs to its end inside one message of the
  // host window; its calls are served until the harness reports the page idle.
  void LetThePageFinish();
  // A message from the harness that is not the answer being waited for.
  void Handle(const nlohmann::json& message);
  // One read, write, call or delete of the page, answered by "result".
  void Serve(const nlohmann::json& request);
  // Sends a message the page must answer and waits for the answer, serving
  // the page meanwhile. kFrameTooLarge when the message does not fit in a
  // frame (nothing was sent), RPC_E_DISCONNECTED when the connection has ended.
  HRESULT Converse(nlohmann::json message, const char* answer_type, nlohmann::json* answer);
  // A window operation; nothing comes back.
  void Notify(const char* operation, nlohmann::json fields = nlohmann::json::object());
  void LogError(const wchar_t* what);

  static LRESULT CALLBACK StandInProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

  HtmlExternal* bridge_;
  UiHostEndpoint endpoint_;
  std::string token_;
  base::Log* log_;
  HostChannel channel_;
  std::shared_ptr<PageLink> link_;
  ScriptValues values_;
  std::unique_ptr<ExternalCaller> caller_;
  HWND window_ = nullptr;
  bool quit_ = false;
  int serving_ = 0;   // page requests being served, innermost last
  int64_t sequence_ = 0;
};

}  // namespace stubframework::browserhost
