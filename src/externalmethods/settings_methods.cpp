#include "externalmethods/settings_methods.h"

#include <string>

#include "base/critical_section.h"
#include "base/log.h"
#include "externalmethods/external_methods.h"
#include "externalmethods/script_call.h"

namespace stubframework::externalmethods {

HRESULT GetOSLangMethod(ExternalMethods& methods, ScriptCall& call) {
  RunSettings* settings = methods.settings();
  call.ReturnInt(settings == nullptr ? 0 : settings->LanguageForId(::GetUserDefaultUILanguage()));
  return S_OK;
}

HRESULT GetLanguageByIdMethod(ExternalMethods& methods, ScriptCall& call) {
  RunSettings* settings = methods.settings();
  const unsigned id = static_cast<unsigned>(call.Int(0)) & 0xFFFF;
  call.ReturnInt(settings == nullptr ? 0 : settings->LanguageForId(id));
  return S_OK;
}

HRESULT GetParsedInstallLanguageMethod(ExternalMethods& methods, ScriptCall& call) {
  RunSettings* settings = methods.settings();
  call.ReturnInt(settings == nullptr ? 0 : settings->LanguageForCode(call.Text(0)));
  return S_OK;
}

HRESULT SetLangMethod(ExternalMethods& methods, ScriptCall& call) {
  RunSettings* settings = methods.settings();
  if (settings == nullptr) return S_OK;
  // It writes property "lang".
  base::ScopedLock hold(methods.lock());
  return settings->SetInstallLanguage(call.Int(0)) ? S_OK : STG_E_INVALIDPARAMETER;
}

HRESULT SetChannelMethod(ExternalMethods& methods, ScriptCall& call) {
  const std::wstring channel = call.Text(0);
  base::LogDebug(methods.log(), L"EMSetChannel: %s", channel.c_str());
  if (RunSettings* settings = methods.settings()) settings->SetChannel(channel);
  return S_OK;
}

HRESULT SetInstallStatusMethod(ExternalMethods& methods, ScriptCall& call) {
  const LONG status = call.Int(0);
  RunSettings* settings = methods.settings();
  if (settings == nullptr) return S_OK;
  if (!settings->SetInstallStatus(status)) return STG_E_INVALIDPARAMETER;
  base::LogDebug(methods.log(), L"EMSetInstallStatus: %d", status);
  return S_OK;
}

HRESULT GetMachineIdMethod(ExternalMethods& methods, ScriptCall& call) {
  LaunchFacts* launch = methods.launch();
  const std::wstring id = launch == nullptr ? std::wstring() : launch->machine_id();
  base::LogDebug(methods.log(), L"EMGetMachineId Result : %s", id.c_str());
  return call.ReturnText(id);
}

}  // namespace stubframework::externalmethods
