#include "app/application.h"

#include <windows.h>
#include <objbase.h>

#include "app/command_line.h"
#include "app/language.h"
#include "app/launch.h"
#include "app/leftovers.h"
#include "app/product.h"
#include "base/temp_folder.h"
#include "externalmethods/product/my_external_methods.h"
#include "htmlui/host_window.h"
#include "sysinfo/system_info.h"
#include "telemetry/machine_id.h"
#include "htmlui/html_external.h"
#include "workflow/package_folders.h"

namespace stubframework::app {

namespace {

const wchar_t kUnzipFolderMarker[] = L"__ZIP_Unzip_Folder__";

std::wstring MajorVersion(const std::wstring& version) { return version.substr(0, version.find(L'.')); }

// Where a run's log is kept after the run.
std::wstring KeptLogFolder(const std::wstring& product_id) { return base::TemporaryPath() + product_id + L"_log"; }

}  // namespace

SystemFacts GatherSystemFacts() {
  SystemFacts facts;
  facts.architecture = sysinfo::ArchitectureText();
  facts.default_browser = sysinfo::DefaultBrowser();
  facts.os_name = sysinfo::SystemName();
  facts.country = sysinfo::CountryIdText();
  facts.machine_id = telemetry::GetMachineId();
  facts.ui_language = ::GetUserDefaultUILanguage();
  return facts;
}

bool ActivateRunningInstance() {
  HWND window = ::FindWindowW(htmlui::kWindowClassName, nullptr);
  if (window == nullptr) return false;
  ::SetForegroundWindow(window);
  if (::IsIconic(window)) ::ShowWindow(window, SW_RESTORE);
  return true;
}

std::unique_ptr<Application> Application::Create() { return Create(telemetry::BuiltInServices()); }

std::unique_ptr<Application> Application::Create(const telemetry::Services& services) {
  base::UniqueHandle mutex(::CreateMutexW(nullptr, FALSE, kInstanceMutexName));
  if (!mutex) return nullptr;
  if (::GetLastError() == ERROR_ALREADY_EXISTS) {
    ActivateRunningInstance();
    return nullptr;
  }
  return std::unique_ptr<Application>(new Application(std::move(mutex), services));
}

Application::Application(base::UniqueHandle mutex, const telemetry::Services& services)
    : instance_mutex_(std::move(mutex)) {
  log_ = std::make_unique<app::AppLog>();
  context_ = std::make_unique<InstallContext>(GatherSystemFacts(), PassthroughArguments());
  // This run holds the single-instance lock: what earlier runs left that no
  // live run holds is theirs to clear.
  RemoveLeftovers(base::TemporaryPath(), KeptLogFolder(context_->ProductId()), log_->folder(), log_.get());
  resources_ = std::make_unique<ResourceFolder>(log_.get());
  run_ = std::make_unique<htmlui::RunState>();
  analytics_ = std::make_unique<telemetry::Analytics>(context_.get(), services, log_.get(), &run_->workers());
  // Created with one reference, which the ComPtr takes over (mingw's
  // ComPtr::Attach would add a second one).
  htmlui::HtmlExternal* bridge = new htmlui::HtmlExternal(context_->properties(), run_.get());
  external_ = bridge;
  bridge->Release();
}

Application::~Application() {
  EndWorkers();
  if (workers_left_ > 0) {
    // A worker still runs and may yet write to the log, the store, the run
    // state, the download folders or the bridge: they are left to the end of
    // the process, which follows, rather than freed under it. (The process's
    // end also ends that worker.)
    analytics_.release();
    context_.release();
    log_.release();
    run_.release();
    download_folders_.release();
    external_.Detach();
    resources_.reset();
    instance_mutex_.Reset();
    return;
  }
  // A fixed order: the log goes last but one so that every member can still write.
  analytics_.reset();
  resources_.reset();
  context_.reset();
  log_.reset();
  instance_mutex_.Reset();
  external_.Reset();
  run_.reset();
}

void Application::EndWorkers() {
  if (workers_ended_) return;
  workers_ended_ = true;
  workers_left_ = run_->StopAndJoin(kWorkerJoinLimitMs);
  if (workers_left_ == 0) {
    base::LogDebug(log_.get(), L"Every worker has ended");
    return;
  }
  base::LogError(log_.get(), L"%u worker(s) still running %u ms after the stop; what they use is kept",
                 static_cast<unsigned>(workers_left_), static_cast<unsigned>(kWorkerJoinLimitMs));
}

base::PropertyBag& Application::properties() { return context_->properties(); }

const std::wstring& Application::settings_key() { return context_->settings_key(); }

std::wstring Application::base_reg_key() {
  return MakeSettingsKey(InstallContext::kSettingsBaseDefault(), context_->ProductId(), context_->ProductVersion());
}

int Application::resume_mode() { return GetResumeMode(); }

std::wstring Application::product_id() { return context_->ProductId(); }

std::wstring Application::product_version() { return context_->ProductVersion(); }

std::wstring Application::stub_path() {
  std::wstring path;
  GetShortcutPath(path);
  return path;
}

std::wstring Application::passthrough() { return context_->passthrough_args(); }

bool Application::silent_launch() { return IsSilentLaunch(); }

void Application::AddUploadFile(const std::wstring& path) { analytics_->AddUploadFile(path); }

bool Application::uninstall_mode(std::wstring* mode) { return GetUninstallMode(*mode); }

bool Application::skip_self_update() { return IsSkipSelfUpdate(); }

void Application::StoreUpdateStubName(const std::wstring& name) {
  context_->WriteSetting(kUpdateStubNameSetting, name);
}

void Application::StoreSelfUpdateExitCode() { context_->SetSelfUpdateCode(kSelfUpdateExitCode); }

std::wstring Application::architecture() { return context_->architecture(); }

std::wstring Application::machine_id() { return context_->machine_id(); }

void Application::SetChannel(const std::wstring& channel) { context_->SaveChannel(channel); }

bool Application::SetInstallStatus(int status) {
  if (status < kStatusNotStarted || status > kStatusStubFailed) return false;
  context_->SetStatus(status);
  return true;
}

bool Application::SetInstallLanguage(int row) {
  if (row < 0 || row >= kLanguageCount) return false;
  context_->SetInstallLanguage(row);
  return true;
}

int Application::LanguageForId(unsigned language_id) { return LanguageIndexFromId(language_id); }

int Application::LanguageForCode(const std::wstring& code) { return LanguageIndexFromCode(code); }

IDispatch* Application::external_dispatch() { return static_cast<IDispatchEx*>(external_.Get()); }

void Application::Run() {
  if (!release_key_.present()) {
    base::LogDebug(log_.get(), L"No release key: downloads are checked against their .meta only");
  }
  analytics_->SendStartReport();
  if (resources_->extracted()) {
    ::CoInitialize(nullptr);
    ShowUi(resources_->folder() + kStartPage);
    // Still in the apartment: the workers' last calls to the page come here.
    EndWorkers();
    ::CoUninitialize();
  } else {
    context_->SetStatus(kStatusError);
  }
  // Nothing of the closing steps may meet a worker (without a window none
  // started, unless the run was driven by hand).
  EndWorkers();
  StoreFinalStatus();
  analytics_->SendClosingReport();
  if (context_->Status() == kStatusError) UploadFailedRunLog();
  KeepLogCopy();
  DeletePackageFolders();
}

void Application::ShowUi(const std::wstring& start_page) {
  std::unique_ptr<htmlui::UiHost> host = make_ui_host_(ProcessArguments(), external_.Get(), log_.get());
  ui_host_ = host.get();
  bool shown = host != nullptr && host->Run(start_page);
  ui_host_ = nullptr;
  // A window that cannot be created (no document object, or the start page
  // cannot be loaded) leaves the status as it is: a machine without the HTML
  // engine is an unmet environment, not a failed bundle.
  if (!shown) base::LogError(log_.get(), L"No window could be shown; status stays %d", context_->Status());
}

void Application::StoreFinalStatus() {
  int status = context_->Status();
  if (status >= kStatusEnvironmentNotMet) return;
  context_->SetStatus(FinalStatus(status, context_->properties().Get(L"uninstallOption")));
}

void Application::UploadFailedRunLog() {
  for (const auto& [name, value] : context_->properties().entries()) {
    log_->Debug(L"Property %s: %s\n", name.c_str(), value.c_str());
  }
  log_->Close();
  analytics_->AddUploadFile(log_->path());
  analytics_->UploadLogs();
}

void Application::KeepLogCopy() {
  log_->KeepCopyIn(base::TemporaryPath(), context_->ProductId() + L"_log");
}

void Application::DeletePackageFolders() {
  // A copy: deleting must not walk the live store.
  base::PropertyBag::Map properties = context_->properties().entries();
  // The page and the user can write these values: each folder goes only when
  // it lies below the temporary folder or a folder a download wrote into.
  const workflow::FolderRules rules = workflow::SystemFolderRules(download_folders_->Folders());
  for (const auto& [name, value] : properties) {
    if (name.find(kUnzipFolderMarker) != std::wstring::npos) workflow::DeletePackageFolder(log_.get(), value, rules);
  }
}

std::unique_ptr<externalmethods::ExternalMethods> MakeProductMethods(Application* app) {
  return std::make_unique<externalmethods::MyExternalMethods>(app);
}

int RunStub(MethodTableFactory make_methods, htmlui::UiHostFactory make_ui_host) {
  return RunStub(make_methods, make_ui_host, telemetry::BuiltInServices());
}

int RunStub(MethodTableFactory make_methods, htmlui::UiHostFactory make_ui_host,
            const telemetry::Services& services) {
  HardenDllSearch();
  if (RunLaunchCheck(kProductName, MajorVersion(kProductVersion)) == LaunchOutcome::kFirstProcessDone) return 0;
  std::unique_ptr<Application> app = Application::Create(services);
  if (!app) return 0;
  app->SetUiHostFactory(make_ui_host);
  // A fixed placeholder pair the telemetry service expects in every report; not a leftover.
  app->context().external_properties().Set(L"propertyName1", L"propertyValue1");
  // Lives until the end; a self-update exit skips its destruction.
  std::unique_ptr<externalmethods::ExternalMethods> methods = make_methods(app.get());
  app->external()->AttachMethods(methods.get());
  if (app->resources().extracted()) app->external()->SetProperty(L"resourceLocation", app->resources().folder());
  app->Run();
  int exit_code = app->context().SelfUpdateCode();
  // A worker that outlived the join still takes the table's lock.
  const bool keep_methods = app->workers_left() > 0;
  app.reset();
  if (keep_methods) methods.release();
  if (exit_code == kSelfUpdateExitCode) ::ExitProcess(kSelfUpdateExitCode);
  return exit_code;
}

}  // namespace stubframework::app
