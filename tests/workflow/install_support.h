// What the install worker's tests share: an application whose method table
// reaches it through a forwarding host (so a test can give the run a stub
// path, a resume mode or a window that records being hidden), the page
// function stand-in, and the stand-in installer.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "externalmethods/method_host.h"
#include "externalmethods/product/my_external_methods.h"
#include "htmlui/bridge_test_support.h"
#include "htmlui/ui_host.h"
#include "support/forwarding_host.h"
#include "workflow/install_job.h"

namespace testsupport::install {

using testsupport::Calls;

// A window that only counts what was done to it.
class RecordingUiHost : public stubframework::htmlui::UiHost {
 public:
  bool Run(const std::wstring&) override { return true; }
  HWND window() const override { return nullptr; }
  bool RequestClose() override { return true; }
  void Minimize() override {}
  void Hide() override { ++hidden; }
  void Show() override {}
  void Drag() override {}
  void SetWindowSize(int, int) override {}
  void ApplyDefaultSize() override {}
  void SetCaption(const std::wstring&) override {}
  int ShowMessageBox(const std::wstring&, const std::wstring&, UINT) override { return 0; }
  std::wstring PickFolder(const std::wstring& initial) override { return initial; }

  int hidden = 0;
};

// The application as the method table sees it, with a few answers replaceable.
class ForwardingHost : public testsupport::AppForwardingHost {
 public:
  explicit ForwardingHost(stubframework::app::Application* app) : AppForwardingHost(app) {}

  int resume_mode() override { return resume ? *resume : AppForwardingHost::resume_mode(); }
  stubframework::htmlui::UiHost* ui_host() override { return &ui; }
  std::wstring stub_path() override { return stub ? *stub : AppForwardingHost::stub_path(); }
  void AddUploadFile(const std::wstring& path) override { uploads.push_back(path); }

  std::optional<int> resume;
  std::optional<std::wstring> stub;
  RecordingUiHost ui;
  std::vector<std::wstring> uploads;
};

// "Z:\..." for a path of the build tree.
std::wstring BuildPath(const char* unix_path);
std::wstring ReadUtf16File(const std::wstring& path);
bool Exists(const std::wstring& path);

class InstallFixture : public testsupport::AppFixture {
 protected:
  void SetUp() override;
  void TearDown() override;
  // Runs once the application exists, before the method table is built.
  virtual void BeforeMethods() {}

  HRESULT Call(const wchar_t* name, testsupport::ScriptArgs& args, VARIANT* result = nullptr);
  std::wstring Prop(const std::wstring& name) { return app_->external()->GetProperty(name); }

  // install(shortcut, file, param, estimatedTime, callback), pumped until the
  // final call; every call is checked to arrive on this thread.
  Calls Install(const std::wstring& file, const std::wstring& param, LONG estimated_time = 0,
                const std::wstring& shortcut = L"");
  // Starts the worker on a job made by hand (tests that change its tick).
  Calls RunJob(std::unique_ptr<stubframework::workflow::InstallJob> job);
  Calls PumpUntilDone(testsupport::RecordingFunction& function);

  // getLastInstallError() through the bridge; fails the test unless VT_UI4.
  ULONG LastInstallError();
  // A copy of the stand-in installer at `path`.
  void PlaceInstaller(const std::wstring& path);

  std::unique_ptr<ForwardingHost> host_;
  std::unique_ptr<stubframework::externalmethods::MyExternalMethods> methods_;
  std::wstring work_;  // a folder of the test's own, inside its temporary folder
};

// Progress calls are (kRunning, total, current); the last call carries the code.
void ExpectProgressThenFinal(const Calls& calls, LONG code);

}  // namespace testsupport::install
