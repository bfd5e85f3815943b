// What the script method tests share: the application behind a host whose
// system facts, architecture, stub path, window and restart call a test can
// replace; calls through the bridge as a script engine makes them; a window
// of class "HTMLUI" without a document; a thread that answers message boxes;
// and a program that records each start of itself.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "externalmethods/method_host.h"
#include "externalmethods/product/my_external_methods.h"
#include "htmlui/bridge_test_support.h"
#include "htmlui/mshtml_ui_host.h"
#include "support/forwarding_host.h"
#include "support/test_files.h"
#include "sysinfo/fake_facts.h"

namespace testsupport {

// The application as the methods see it, with a few answers replaceable.
class SettableHost : public testsupport::AppForwardingHost {
 public:
  explicit SettableHost(stubframework::app::Application* app) : AppForwardingHost(app) {}

  stubframework::htmlui::UiHost* ui_host() override { return ui; }
  std::wstring stub_path() override { return stub ? *stub : AppForwardingHost::stub_path(); }
  stubframework::telemetry::Analytics* analytics() override {
    return analytics_override ? analytics_override : AppForwardingHost::analytics();
  }
  std::wstring architecture() override { return machine_bits ? *machine_bits : AppForwardingHost::architecture(); }
  const stubframework::sysinfo::FactSource& facts() override {
    return facts_override ? *facts_override : MethodHost::facts();
  }
  // Never restarts: records the request and whether the shutdown privilege
  // was enabled in this process's token when it came.
  bool RequestRestart(UINT flags, DWORD reason) override;

  std::optional<std::wstring> stub;
  std::optional<std::wstring> machine_bits;
  const stubframework::sysinfo::FactSource* facts_override = nullptr;
  stubframework::telemetry::Analytics* analytics_override = nullptr;
  stubframework::htmlui::UiHost* ui = nullptr;
  struct Restart {
    UINT flags;
    DWORD reason;
    bool privilege_enabled;
  };
  std::vector<Restart> restarts;
};

// Whether "SeShutdownPrivilege" is enabled in this process's token; and
// switching it off, so that a test sees who switched it on.
bool ShutdownPrivilegeEnabled();
void DisableShutdownPrivilege();

// The product's table behind the application's bridge, reached through a SettableHost.
class MethodFixture : public testsupport::AppFixture {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Calls through the bridge's IDispatch as a script engine does; flags 1
  // for methods, 3 for methods that answer.
  HRESULT Call(const wchar_t* name, WORD flags, testsupport::ScriptArgs& args, VARIANT* result = nullptr);
  HRESULT Call(const wchar_t* name, WORD flags, testsupport::ScriptArgs&& args, VARIANT* result = nullptr) {
    return Call(name, flags, args, result);
  }
  // A method-get call that must succeed; its answer as text, an integer or a boolean.
  std::wstring Text(const wchar_t* name, testsupport::ScriptArgs&& args, WORD flags = 3);
  LONG Int(const wchar_t* name, testsupport::ScriptArgs&& args);
  bool Bool(const wchar_t* name, testsupport::ScriptArgs&& args, WORD flags = 3);
  std::wstring Prop(const std::wstring& name) { return app_->external()->GetProperty(name); }

  std::unique_ptr<SettableHost> host_;
  std::unique_ptr<stubframework::externalmethods::MyExternalMethods> methods_;
  std::wstring work_;  // a folder of the test's own, with a trailing backslash
};

// A borderless "HTMLUI" window whose data the host window code installs, with
// no document in it; the product's MSHTML UI host acts on it through the bridge.
class DocumentlessWindow {
 public:
  explicit DocumentlessWindow(stubframework::htmlui::HtmlExternal* bridge);
  ~DocumentlessWindow();
  DocumentlessWindow(const DocumentlessWindow&) = delete;
  DocumentlessWindow& operator=(const DocumentlessWindow&) = delete;

  HWND handle() const { return window_; }
  bool quit() const { return quit_; }
  // WM_WINDOWPOSCHANGED messages that moved or sized the window.
  int moves() const;
  stubframework::htmlui::MshtmlUiHost& ui() { return ui_; }

 private:
  bool quit_ = false;
  HWND window_ = nullptr;
  stubframework::htmlui::MshtmlUiHost ui_;
};

// Answers the first dialog (class "#32770") of this process that `match`
// accepts by posting `message` with `wparam` to it; gives up after 20 s.
class DialogAnswerer {
 public:
  using Match = std::function<bool(HWND dialog)>;
  DialogAnswerer(Match match, UINT message, WPARAM wparam);
  ~DialogAnswerer();
  DialogAnswerer(const DialogAnswerer&) = delete;
  DialogAnswerer& operator=(const DialogAnswerer&) = delete;

  // Waits for the answer; true when one was posted.
  bool Answered();
  // The caption of the dialog answered.
  std::wstring caption() const { return caption_; }

 private:
  std::atomic<bool> answered_{false};
  std::atomic<bool> stop_{false};
  std::wstring caption_;
  std::thread thread_;
};

// A box with exactly this caption.
DialogAnswerer::Match Caption(const std::wstring& caption);
// A button press on the box: IDOK, IDCANCEL, IDYES, IDNO.
inline WPARAM Button(int id) { return MAKEWPARAM(id, BN_CLICKED); }

// The recording program (probe_app.exe, version 3.14.159.2653) copied to
// `folder`; every start appends its command line to RecordedStarts().
class Probe {
 public:
  explicit Probe(const std::wstring& folder);
  const std::wstring& path() const { return path_; }
  // The command lines of its starts so far, waiting up to `wait_ms` for `at_least`.
  std::vector<std::wstring> Starts(size_t at_least = 1, int wait_ms = 10000) const;

 private:
  std::wstring path_;
};

// Arguments of a command line as the system splits them.
std::vector<std::wstring> SplitArgs(const std::wstring& command_line);

bool Exists(const std::wstring& path);
bool WriteFileBytes(const std::wstring& path, const std::string& bytes);
// Polls `done` every 20 ms for up to `wait_ms`.
bool WaitFor(const std::function<bool()>& done, int wait_ms = 10000);

}  // namespace testsupport
