// The one long-lived object of a run and the entry sequence that builds it.
//
// Threads: the UI thread builds, runs and destroys it. Script methods start
// workers (downloads, installs, maintenance, the self-update, activity posts)
// that the run state owns; they use the log, the context's property store,
// the run state, the download folders, the bridge and the method table's lock.
// Before the closing steps (or, for a run that never showed its window, the
// destruction) the application stops and joins them, within
// kWorkerJoinLimitMs; when one does not end in time, those objects are kept
// until the process ends instead of being freed under it.
#pragma once

#include <memory>
#include <string>

#include <wrl/client.h>

#include "app/app_log.h"
#include "app/install_context.h"
#include "app/resource_folder.h"
#include "base/unique_handle.h"
#include "externalmethods/method_host.h"
#include "htmlui/mshtml_ui_host.h"
#include "htmlui/run_state.h"
#include "htmlui/ui_host.h"
#include "telemetry/analytics.h"
#include "telemetry/service_endpoint.h"
#include "utils/timed_exchange.h"

namespace stubframework::externalmethods {
class ExternalMethods;
}

namespace stubframework::app {

class Application : public externalmethods::MethodHost {
 public:
  // Takes the single-instance mutex; null when another instance runs (its
  // window is brought to the front) or a member cannot be built. Reports go
  // to the services this build was configured with, or to `services`.
  static std::unique_ptr<Application> Create();
  static std::unique_ptr<Application> Create(const telemetry::Services& services);
  virtual ~Application();
  Application(const Application&) = delete;
  Application& operator=(const Application&) = delete;

  // Shows the UI until the window closes, ends the workers, then runs the
  // closing steps.
  void Run();
  // Stops every worker and waits for them (once; later calls do nothing).
  // Run calls it while the window's thread can still take their last calls.
  void EndWorkers();
  // Workers that were still running when EndWorkers gave up on them; their
  // objects (and the method table's lock) must then outlive the process.
  size_t workers_left() const { return workers_left_; }
  htmlui::RunState& run_state() { return *run_; }
  // The host that Run shows the pages in; the MSHTML window unless set.
  void SetUiHostFactory(htmlui::UiHostFactory factory) { make_ui_host_ = factory; }

  AppLog* log() override { return log_.get(); }
  InstallContext& context() { return *context_; }
  ResourceFolder& resources() { return *resources_; }
  telemetry::Analytics* analytics() override { return analytics_.get(); }
  // The script bridge (window.external); the host hands its IDispatch to the document.
  htmlui::HtmlExternal* external() override { return external_.Get(); }
  IDispatch* external_dispatch();
  // The window and dialog side of the UI while it is shown; null otherwise.
  htmlui::UiHost* ui_host() override { return ui_host_; }

  // The rest of what script methods reach (externalmethods::MethodHost).
  base::PropertyBag& properties() override;
  const std::wstring& settings_key() override;
  std::wstring base_reg_key() override;
  int resume_mode() override;
  workflow::DownloadFolders* download_folders() override { return download_folders_.get(); }
  trust::ReleaseKey release_key() override { return release_key_; }
  // The build's key unless set; tests of the keyless configuration set none.
  void SetReleaseKey(const trust::ReleaseKey& key) { release_key_ = key; }
  std::wstring product_id() override;
  std::wstring product_version() override;
  std::wstring stub_path() override;
  std::wstring passthrough() override;
  bool silent_launch() override;
  void AddUploadFile(const std::wstring& path) override;
  bool uninstall_mode(std::wstring* mode) override;
  bool skip_self_update() override;
  void StoreUpdateStubName(const std::wstring& name) override;
  void StoreSelfUpdateExitCode() override;
  std::wstring architecture() override;
  std::wstring machine_id() override;
  void SetChannel(const std::wstring& channel) override;
  bool SetInstallStatus(int status) override;
  bool SetInstallLanguage(int row) override;
  int LanguageForId(unsigned language_id) override;
  int LanguageForCode(const std::wstring& code) override;

 private:
  Application(base::UniqueHandle mutex, const telemetry::Services& services);
  void ShowUi(const std::wstring& start_page);
  void StoreFinalStatus();
  void UploadFailedRunLog();
  void KeepLogCopy();
  void DeletePackageFolders();

  std::unique_ptr<AppLog> log_;
  std::unique_ptr<InstallContext> context_;
  std::unique_ptr<ResourceFolder> resources_;
  std::unique_ptr<htmlui::RunState> run_;
  std::unique_ptr<telemetry::Analytics> analytics_;
  base::UniqueHandle instance_mutex_;
  // One reference, released last.
  Microsoft::WRL::ComPtr<htmlui::HtmlExternal> external_;
  htmlui::UiHost* ui_host_ = nullptr;
  // Written by download workers, read by the closing steps.
  std::unique_ptr<workflow::DownloadFolders> download_folders_ = std::make_unique<workflow::DownloadFolders>();
  bool workers_ended_ = false;
  size_t workers_left_ = 0;
  htmlui::UiHostFactory make_ui_host_ = htmlui::MakeMshtmlUiHost;
  trust::ReleaseKey release_key_ = trust::ProductReleaseKey();
};

// How long the closing run waits for its workers. Every worker ends at the
// stop event within a poll, except in a step it cannot cut short; the longest
// such step is an activity post, bounded by its deadline.
inline constexpr DWORD kWorkerJoinLimitMs = utils::kActivityDeadlineMs + 1000;

SystemFacts GatherSystemFacts();

// Brings the window of the running instance to the front, restoring it when
// minimised. False when there is no such window.
bool ActivateRunningInstance();

using MethodTableFactory = std::unique_ptr<externalmethods::ExternalMethods> (*)(Application* app);
// The product's method table.
std::unique_ptr<externalmethods::ExternalMethods> MakeProductMethods(Application* app);

// The entry sequence; returns the process exit code. The entry function
// supplies the method table and the UI host: the product passes nothing and
// gets its own table and the MSHTML window; test programs add test-only
// methods, development builds a host that can show the pages in a browser.
int RunStub(MethodTableFactory make_methods = MakeProductMethods,
            htmlui::UiHostFactory make_ui_host = htmlui::MakeMshtmlUiHost);
// The same, reporting to `services` (test programs point them at their servers).
int RunStub(MethodTableFactory make_methods, htmlui::UiHostFactory make_ui_host,
            const telemetry::Services& services);

}  // namespace stubframework::app
