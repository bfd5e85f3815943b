// Product identity, persisted settings, system facts and the property store.
#pragma once

#include <string>

#include "base/property_bag.h"
#include "telemetry/report_source.h"

namespace stubframework::app {

// What start-up learns about the machine before building the context.
struct SystemFacts {
  std::wstring architecture = L"x86";
  std::wstring default_browser = L"Other";
  std::wstring os_name = L"Other";
  std::wstring country;
  std::wstring machine_id = L"X-XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX";
  unsigned ui_language = 0;  // GetUserDefaultUILanguage
};

// "<base>\<product>\<major>", the major version being the text before the first ".".
std::wstring MakeSettingsKey(const std::wstring& base, const std::wstring& product, const std::wstring& version);

// The status stored at the end of a run: below 4, 0 becomes 3 and the
// uninstall option adds 70, 80 or 90; 4 and above stay.
int FinalStatus(int status, const std::wstring& uninstall_option);

// Also what the reports say about the run.
class InstallContext : public telemetry::ReportSource {
 public:
  // `settings_base` is the settings root; tests point it elsewhere.
  InstallContext(const SystemFacts& facts, const std::wstring& passthrough_args,
                 const std::wstring& settings_base = kSettingsBaseDefault());
  InstallContext(const InstallContext&) = delete;
  InstallContext& operator=(const InstallContext&) = delete;

  static std::wstring kSettingsBaseDefault();

  // Settings under the settings key.
  bool ReadSetting(const std::wstring& name, std::wstring& value) const;
  bool WriteSetting(const std::wstring& name, const std::wstring& value, bool view64 = false) const;

  // Read-through cached integers mirrored to the registry as decimal text.
  int Status() override;
  void SetStatus(int status);
  int SelfUpdateCode();
  void SetSelfUpdateCode(int code);

  // Text settings read from the registry on first use when empty.
  const std::wstring& ProductId();
  const std::wstring& ProductVersion();
  const std::wstring& FrameworkVersion();
  const std::wstring& Channel() const { return channel_; }
  void LoadChannel();
  void SaveChannel(const std::wstring& channel);

  // Install language: a row of the language table (narrowed before use).
  void SetInstallLanguage(int index);

  const std::wstring& settings_key() const { return settings_key_; }
  const std::wstring& request_token() const { return request_token_; }
  const std::wstring& country() const { return country_; }
  const std::wstring& install_language() const { return install_language_; }
  const std::wstring& os_name() const { return os_name_; }
  int language_index() const { return language_index_; }
  const std::wstring& architecture() const { return architecture_; }
  const std::wstring& default_browser() const { return default_browser_; }
  const std::wstring& machine_id() const { return machine_id_; }
  void set_machine_id(const std::wstring& id) { machine_id_ = id; }
  const std::wstring& passthrough_args() const { return passthrough_args_; }

  // The identity values every report carries, as they stand now.
  telemetry::ReportIdentity Identity() override;

  base::PropertyBag& properties() { return properties_; }
  base::PropertyBag& external_properties() { return external_properties_; }

 private:
  int LoadCachedInt(int& field, const wchar_t* name);
  void StoreInt(int& field, const wchar_t* name, int value);
  const std::wstring& LoadIfEmpty(std::wstring& field, const wchar_t* name);

  std::wstring settings_key_;
  int unset_marker_;
  std::wstring request_token_;
  std::wstring country_;
  std::wstring product_id_;
  std::wstring product_version_;
  std::wstring channel_;
  std::wstring install_language_;
  int status_;
  int self_update_code_;
  std::wstring os_name_;
  int language_index_ = 0;
  std::wstring architecture_;
  std::wstring default_browser_;
  std::wstring framework_version_;
  std::wstring machine_id_;
  base::PropertyBag external_properties_;
  base::PropertyBag properties_;
  std::wstring passthrough_args_;
};

}  // namespace stubframework::app
