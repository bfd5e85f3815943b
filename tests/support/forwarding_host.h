// The application as the method table sees it, every answer forwarded to a
// real Application; test hosts derive from it and replace the few answers
// their tests control.
#pragma once

#include <string>

#include "app/application.h"
#include "externalmethods/method_host.h"

namespace testsupport {

class AppForwardingHost : public stubframework::externalmethods::MethodHost {
 public:
  explicit AppForwardingHost(stubframework::app::Application* app) : app_(app) {}
  virtual ~AppForwardingHost() = default;

  stubframework::base::Log* log() override { return app_->log(); }
  stubframework::base::PropertyBag& properties() override { return app_->properties(); }
  const std::wstring& settings_key() override { return app_->settings_key(); }
  std::wstring base_reg_key() override { return app_->base_reg_key(); }
  int resume_mode() override { return app_->resume_mode(); }
  stubframework::htmlui::HtmlExternal* external() override { return app_->external(); }
  stubframework::htmlui::UiHost* ui_host() override { return app_->ui_host(); }
  stubframework::workflow::DownloadFolders* download_folders() override { return app_->download_folders(); }
  stubframework::trust::ReleaseKey release_key() override { return app_->release_key(); }
  std::wstring product_id() override { return app_->product_id(); }
  std::wstring product_version() override { return app_->product_version(); }
  std::wstring stub_path() override { return app_->stub_path(); }
  std::wstring passthrough() override { return app_->passthrough(); }
  bool silent_launch() override { return app_->silent_launch(); }
  void AddUploadFile(const std::wstring& path) override { app_->AddUploadFile(path); }
  stubframework::telemetry::Analytics* analytics() override { return app_->analytics(); }
  bool uninstall_mode(std::wstring* mode) override { return app_->uninstall_mode(mode); }
  bool skip_self_update() override { return app_->skip_self_update(); }
  void StoreUpdateStubName(const std::wstring& name) override { app_->StoreUpdateStubName(name); }
  void StoreSelfUpdateExitCode() override { app_->StoreSelfUpdateExitCode(); }
  std::wstring architecture() override { return app_->architecture(); }
  std::wstring machine_id() override { return app_->machine_id(); }
  void SetChannel(const std::wstring& channel) override { app_->SetChannel(channel); }
  bool SetInstallStatus(int status) override { return app_->SetInstallStatus(status); }
  bool SetInstallLanguage(int row) override { return app_->SetInstallLanguage(row); }
  int LanguageForId(unsigned id) override { return app_->LanguageForId(id); }
  int LanguageForCode(const std::wstring& code) override { return app_->LanguageForCode(code); }

 protected:
  stubframework::app::Application* app() const { return app_; }

 private:
  stubframework::app::Application* app_;
};

}  // namespace testsupport
