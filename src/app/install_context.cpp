#include "app/install_context.h"

#include <cwchar>

#include "app/language.h"
#include "app/product.h"
#include "app/settings_store.h"
#include "base/wide_format.h"
#include "telemetry/machine_id.h"

namespace stubframework::app {

std::wstring MakeSettingsKey(const std::wstring& base, const std::wstring& product, const std::wstring& version) {
  return base + L"\\" + product + L"\\" + version.substr(0, version.find(L'.'));
}

int FinalStatus(int status, const std::wstring& uninstall_option) {
  if (status >= kStatusEnvironmentNotMet) return status;
  if (status == kStatusNotStarted) status = kStatusCancelled;
  if (uninstall_option == L"Modify") return status + 70;
  if (uninstall_option == L"Repair") return status + 80;
  if (uninstall_option == L"Remove") return status + 90;
  return status;
}

std::wstring InstallContext::kSettingsBaseDefault() { return kSettingsBase; }

InstallContext::InstallContext(const SystemFacts& facts, const std::wstring& passthrough_args,
                               const std::wstring& settings_base)
    : unset_marker_(kUnsetValue),
      product_id_(kProductName),
      product_version_(kProductVersion),
      channel_(kChannel),
      status_(kUnsetValue),
      self_update_code_(kUnsetValue),
      framework_version_(kFrameworkVersion) {
  passthrough_args_ = passthrough_args;
  request_token_ = telemetry::NewGuidString();
  machine_id_ = facts.machine_id;
  architecture_ = facts.architecture;
  default_browser_ = facts.default_browser;
  os_name_ = facts.os_name;
  country_ = facts.country;
  language_index_ = LanguageIndexFromId(facts.ui_language);
  status_ = kStatusEnvironmentNotMet;
  settings_key_ = MakeSettingsKey(settings_base, product_id_, product_version_);
  properties_.Set(L"osbits", architecture_ == L"x64" ? L"64" : L"32");
  SetInstallLanguage(NarrowInstallLanguage(language_index_));
}

bool InstallContext::ReadSetting(const std::wstring& name, std::wstring& value) const {
  return app::ReadSetting(settings_key_, name, value);
}

bool InstallContext::WriteSetting(const std::wstring& name, const std::wstring& value, bool view64) const {
  return app::WriteSetting(settings_key_, name, value, view64);
}

int InstallContext::LoadCachedInt(int& field, const wchar_t* name) {
  if (field == unset_marker_) {
    std::wstring text;
    if (ReadSetting(name, text)) field = _wtoi(text.c_str());
  }
  return field;
}

void InstallContext::StoreInt(int& field, const wchar_t* name, int value) {
  field = value;
  WriteSetting(name, base::Format(L"%d", value));
}

int InstallContext::Status() { return LoadCachedInt(status_, L"status"); }
void InstallContext::SetStatus(int status) { StoreInt(status_, L"status", status); }
int InstallContext::SelfUpdateCode() { return LoadCachedInt(self_update_code_, L"selfupdate_code"); }
void InstallContext::SetSelfUpdateCode(int code) { StoreInt(self_update_code_, L"selfupdate_code", code); }

const std::wstring& InstallContext::LoadIfEmpty(std::wstring& field, const wchar_t* name) {
  if (field.empty()) ReadSetting(name, field);
  return field;
}

const std::wstring& InstallContext::ProductId() { return LoadIfEmpty(product_id_, L"product_id"); }
const std::wstring& InstallContext::ProductVersion() { return LoadIfEmpty(product_version_, L"production_version"); }
const std::wstring& InstallContext::FrameworkVersion() { return LoadIfEmpty(framework_version_, L"client_version"); }

void InstallContext::LoadChannel() { ReadSetting(L"channel", channel_); }

void InstallContext::SaveChannel(const std::wstring& channel) {
  channel_ = channel;
  WriteSetting(L"channel", channel);
}

telemetry::ReportIdentity InstallContext::Identity() {
  telemetry::ReportIdentity id;
  id.token = request_token_;
  id.country = country_;
  id.product_id = ProductId();
  id.product_version = ProductVersion();
  id.channel = channel_;
  id.install_language = install_language_;
  id.os = os_name_;
  id.language = LanguageAt(language_index_).name;
  id.architecture = architecture_;
  id.default_browser = default_browser_;
  id.client_version = FrameworkVersion();
  id.machine_id = machine_id_;
  id.external_properties = external_properties_.entries();
  return id;
}

void InstallContext::SetInstallLanguage(int index) {
  const LanguageRow& row = LanguageAt(index);
  install_language_ = row.name;
  properties_.Set(L"lang", row.code);
  WriteSetting(L"install_language", install_language_);
}

}  // namespace stubframework::app
