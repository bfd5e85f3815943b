// Closing the window while a worker is in the middle of its work, for every
// kind of worker, many times: each run stops and joins its workers before
// the closing steps, keeps a log that ends with them, and leaves none of its
// threads behind. The executable carries a UI bundle, so Application::Run
// shows its "window": a host of this test that starts the work through
// window.external as a page would, lets it get going, and closes.
#include <gtest/gtest.h>
#include <windows.h>
#include <msi.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/application.h"
#include "base/registry.h"
#include "base/temp_folder.h"
#include "base/wide_format.h"
#include "downloader/download_test_util.h"
#include "externalmethods/product/my_external_methods.h"
#include "htmlui/bridge_test_support.h"
#include "htmlui/ui_host.h"
#include "support/test_files.h"
#include "support/test_servers.h"
#include "workflow/error_handle.h"

namespace stubframework::workflow {
namespace {

using testsupport::RecordingFunction;
using testsupport::ScriptArgs;

constexpr wchar_t kMsiProductCode[] = L"{6B2C2E70-3D3A-4E0B-9C41-5A0E9E7D1A11}";

// One run's page: the function the worker reports to, and the calls it makes.
struct Page {
  app::Application* app = nullptr;
  RecordingFunction function;
  // Starts the work, as the page's script would.
  std::function<HRESULT(Page&)> start;
  DWORD busy_ms = 0;  // how long the work goes on before the window closes
  bool closed_mid_work = false;

  HRESULT Call(const wchar_t* name, ScriptArgs& args) {
    IDispatch* external = app->external_dispatch();
    DISPID id = DISPID_UNKNOWN;
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    HRESULT hr = external->GetIDsOfNames(IID_NULL, names, 1, 0, &id);
    if (FAILED(hr)) return hr;
    return external->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, args.params(), nullptr, nullptr, nullptr);
  }
};

// The page of the run in progress (a UI host factory is a plain function).
Page* current_page = nullptr;

void Pump(DWORD ms) {
  const DWORD start = ::GetTickCount();
  while (::GetTickCount() - start < ms) {
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    MSG message;
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&message);
  }
}

// The window: starts the work, lets it run, closes.
class ClosingHost : public htmlui::UiHost {
 public:
  bool Run(const std::wstring&) override {
    Page& page = *current_page;
    EXPECT_EQ(page.start(page), S_OK);
    Pump(page.busy_ms);
    page.closed_mid_work = page.app->run_state().workers().running() > 0;
    return true;
  }
  HWND window() const override { return nullptr; }
  bool RequestClose() override { return true; }
  void Minimize() override {}
  void Hide() override {}
  void Show() override {}
  void Drag() override {}
  void SetWindowSize(int, int) override {}
  void ApplyDefaultSize() override {}
  void SetCaption(const std::wstring&) override {}
  int ShowMessageBox(const std::wstring&, const std::wstring&, UINT) override { return 0; }
  std::wstring PickFolder(const std::wstring& initial) override { return initial; }
};

std::unique_ptr<htmlui::UiHost> MakeClosingHost(const std::vector<std::wstring>&, htmlui::HtmlExternal*, base::Log*) {
  return std::make_unique<ClosingHost>();
}

std::string ReadFile(const std::wstring& path) { return testsupport::ReadWholeFile(path); }

std::wstring Wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }

// A kind of worker: how the page starts it, how long it works before the
// window closes, and a line it writes when it ends.
struct Kind {
  const char* name;
  DWORD busy_ms;
  std::function<HRESULT(Page&)> start;
  std::string end_line;
  bool reports_to_page = true;
};

class ClosingRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    servers_ = testsupport::TestServers::Get(&error);
    ASSERT_NE(servers_, nullptr) << error;
    temp_ = base::MakeUniqueFolder(base::TemporaryPath());
    ASSERT_FALSE(temp_.empty());
    ::SetEnvironmentVariableW(L"TMP", temp_.c_str());
    ::SetEnvironmentVariableW(L"TEMP", temp_.c_str());
    ASSERT_TRUE(SUCCEEDED(::CoInitialize(nullptr)));
    // A slow source: 4 MiB in 64 KiB pieces every 20 ms (about 1.3 s), with its meta.
    name_ = testsupport::UniqueKey() + ".bin";
    const std::string data = testsupport::NoisyBytes(4 * 1048576, 28);
    ASSERT_TRUE(servers_->PutFile(name_, data));
    ASSERT_TRUE(servers_->PutFile(name_ + ".meta", testsupport::MakeMeta(data)));
    installer_ = temp_ + L"installer.exe";
    ASSERT_TRUE(::CopyFileW(testsupport::WindowsPathOf(EXIT_WITH_EXE).c_str(), installer_.c_str(), FALSE));
    package_ = temp_ + L"product.msi";
    ASSERT_TRUE(::CopyFileW(testsupport::WindowsPathOf(PRODUCT_MSI).c_str(), package_.c_str(), FALSE));
  }
  void TearDown() override {
    INSTALLUILEVEL previous = ::MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);
    ::MsiConfigureProductW(kMsiProductCode, INSTALLLEVEL_DEFAULT, INSTALLSTATE_ABSENT);
    ::MsiSetInternalUI(previous, nullptr);
    ::CoUninitialize();
    ::SetEnvironmentVariableW(L"TMP", nullptr);
    ::SetEnvironmentVariableW(L"TEMP", nullptr);
    // A self-update saves the new stub beside the running executable.
    wchar_t self[MAX_PATH] = {};
    const DWORD length = ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring update(self, length);
    update = update.substr(0, update.find_last_of(L'\\') + 1) + L"update.exe";
    ::DeleteFileW(update.c_str());
    // The stand-in installers of the runs may still be ending.
    for (int i = 0; i < 50 && !base::DeleteFolderRecursive(temp_); ++i) ::Sleep(100);
  }

  std::wstring SlowUrl() const {
    return servers_->FaultUrl("/slow/" + testsupport::UniqueKey() + "/" + name_ + "?chunk=65536&ms=20&src=" + name_);
  }

  // One run: build the application, show the window that starts the work
  // and closes, end the run. Returns the kept copy of its log.
  std::string OneRun(const Kind& kind, int round, bool* mid_work) {
    SCOPED_TRACE(std::string(kind.name) + " run " + std::to_string(round));
    telemetry::Services services;
    // Plain HTTP to the fault server: every report gets a quick "unknown behaviour".
    services.telemetry = {L"127.0.0.1", static_cast<unsigned short>(servers_->fault_port()), false};
    std::unique_ptr<app::Application> app = app::Application::Create(services);
    if (!app) {
      ADD_FAILURE() << "the application could not be built";
      return std::string();
    }
    app->SetReleaseKey(trust::ReleaseKey{});
    app->SetUiHostFactory(MakeClosingHost);
    auto methods = std::make_unique<externalmethods::MyExternalMethods>(app.get());
    EXPECT_TRUE(app->external()->AttachMethods(methods.get()));
    Page page;
    page.app = app.get();
    page.start = kind.start;
    page.busy_ms = kind.busy_ms;
    const LONG idle_refs = page.function.refs();
    current_page = &page;

    app->Run();

    current_page = nullptr;
    *mid_work = page.closed_mid_work;
    EXPECT_EQ(app->workers_left(), 0u);
    EXPECT_EQ(app->run_state().workers().running(), 0u) << "every thread the run started has ended";
    if (kind.reports_to_page) {
      EXPECT_EQ(page.function.refs(), idle_refs) << "the worker let go of the page's function";
      if (!page.function.calls.empty()) {
        EXPECT_NE(page.function.calls.back().args[0], kRunning) << "the last call carries the result";
      } else {
        ADD_FAILURE() << "the worker never called the page";
      }
    }
    const std::wstring kept = temp_ + L"Tessary_log\\" + app->log()->path().substr(app->log()->folder().size());
    const std::wstring settings = app->context().settings_key();
    app.reset();
    methods.reset();
    // The run's status, and a self-update's stored exit code, stay out of later runs.
    base::RegistryDeleteKey(settings, false);
    return ReadFile(kept);
  }

  void CloseWhileWorking(const Kind& kind, int rounds) {
    int mid_work = 0;
    for (int round = 0; round < rounds; ++round) {
      bool busy = false;
      const std::string log = OneRun(kind, round, &busy);
      if (busy) ++mid_work;
      const size_t end = log.find(kind.end_line);
      const size_t joined = log.find("] Every worker has ended");
      EXPECT_NE(end, std::string::npos) << kind.name << ": the worker's last line is in the kept log\n" << log;
      EXPECT_NE(joined, std::string::npos) << kind.name << ": the join is in the kept log\n" << log;
      if (end != std::string::npos && joined != std::string::npos) {
        EXPECT_LT(end, joined) << kind.name << ": the worker ended before the closing steps";
      }
      if (HasFailure()) return;
    }
    EXPECT_GT(mid_work, 0) << kind.name << ": no run closed while the worker was still at work";
  }

  const testsupport::TestServers* servers_ = nullptr;
  std::wstring temp_;
  std::string name_;
  std::wstring installer_;
  std::wstring package_;
};

HRESULT Download(Page& page, const std::wstring& url, const std::wstring& file, bool verified) {
  ScriptArgs args;
  args.Text(url.c_str()).Text(file.c_str()).Text(L"").Bool(false).Bool(verified).Dispatch(&page.function);
  return page.Call(L"download", args);
}

TEST_F(ClosingRunTest, PlainDownload) {
  CloseWhileWorking({"plain download", 300, [this](Page& page) {
                       return Download(page, SlowUrl(), temp_ + Wide(testsupport::UniqueKey()), false);
                     }, "finished to"}, 4);
}

TEST_F(ClosingRunTest, VerifiedDownload) {
  CloseWhileWorking({"verified download", 300, [this](Page& page) {
                       return Download(page, SlowUrl(), temp_ + Wide(testsupport::UniqueKey()), true);
                     }, "finished to"}, 4);
}

TEST_F(ClosingRunTest, ExecutableInstall) {
  CloseWhileWorking({"executable install", 200, [this](Page& page) {
                       ScriptArgs args;
                       args.Text(L"").Text(installer_.c_str()).Text(L"delay=1500").Int(5).Dispatch(&page.function);
                       return page.Call(L"install", args);
                     }, "the run is closing: the installer goes on alone"}, 3);
}

TEST_F(ClosingRunTest, WindowsInstallerInstall) {
  CloseWhileWorking({"Windows Installer install", 0, [this](Page& page) {
                       const std::wstring params = L"INSTALLDIR=\"" + temp_ + L"product\" /qn";
                       ScriptArgs args;
                       args.Text(L"").Text(package_.c_str()).Text(params.c_str()).Int(0).Dispatch(&page.function);
                       return page.Call(L"install", args);
                     }, "InstallMsi "}, 3);
}

TEST_F(ClosingRunTest, Uninstall) {
  CloseWhileWorking({"uninstall", 50, [](Page& page) {
                       ScriptArgs args;
                       args.Text(L"Tessary").Bool(true).Text(kMsiProductCode).Dispatch(&page.function);
                       return page.Call(L"removeProgram", args);
                     }, "UninstallThreadFunc result:"}, 3);
}

TEST_F(ClosingRunTest, PackageSearch) {
  // The whole of the system's /usr, through Wine's drive Z: far more than the
  // run lasts.
  CloseWhileWorking({"package search", 50, [](Page& page) {
                       ScriptArgs args;
                       args.Text(L"Z:\\usr").Text(L"no\\such\\package.none").Dispatch(&page.function);
                       return page.Call(L"verifyFileInSpecialDirectory", args);
                     }, "VerifyThreadFunc 0 - 0"}, 4);
}

TEST_F(ClosingRunTest, SelfUpdate) {
  CloseWhileWorking({"self-update", 300, [this](Page& page) {
                       ScriptArgs args;
                       // The file name the update is saved under comes from the URL's end.
                       const std::wstring url = SlowUrl() + L"&name=/update.exe";
                       args.Text(url.c_str()).Dispatch(&page.function);
                       return page.Call(L"selfUpdate", args);
                     }, "update.exe finished."}, 3);
}

TEST_F(ClosingRunTest, UserActivityPost) {
  Kind kind{"user activity", 0, [](Page& page) {
              ScriptArgs args;
              args.Text(L"closed at once");
              return page.Call(L"trackUserActivity", args);
            }, "track activity:closed at once failed!"};
  kind.reports_to_page = false;
  CloseWhileWorking(kind, 4);
}

}  // namespace
}  // namespace stubframework::workflow
