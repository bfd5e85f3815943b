#include "externalmethods/system_methods.h"

#include <wininet.h>

#include <string>

#include "base/log.h"
#include "base/wide_format.h"
#include "externalmethods/external_methods.h"
#include "externalmethods/os_requirement.h"
#include "externalmethods/script_call.h"

namespace stubframework::externalmethods {

HRESULT GetOSVersionMethod(ExternalMethods& methods, ScriptCall& call) {
  sysinfo::ReportedVersion reported;
  if (!FactsOf(methods.machine()).Reported(&reported)) return call.ReturnText(std::wstring());
  return call.ReturnText(base::Format(L"%lu.%lu", reported.major, reported.minor));
}

HRESULT CheckOSMethod(ExternalMethods& methods, ScriptCall& call) {
  const std::wstring minimum = call.Text(0);
  const std::wstring bits = call.Text(1);
  LaunchFacts* launch = methods.launch();
  bool valid = false;
  if (LacksRequiredBits(bits, launch == nullptr ? std::wstring() : launch->architecture())) {
    methods.properties().SetProperty(L"OSBitNotSupport", L"true");
  } else {
    // The process block's numbers: compatibility settings do not lower them.
    sysinfo::VersionNumbers system;
    FactsOf(methods.machine()).ProcessBlockVersion(&system);
    valid = MeetsVersion(system, RequiredVersionFor(minimum));
  }
  base::LogDebug(methods.log(), L"EMCheckOS Result : %s", valid ? L"OS valid" : L"OS invalid");
  call.ReturnBool(valid);
  return S_OK;
}

HRESULT IsInternetConnectedMethod(ExternalMethods& methods, ScriptCall& call) {
  DWORD flags = 0;
  const bool connected = ::InternetGetConnectedState(&flags, 0) != FALSE;
  base::LogDebug(methods.log(), L"EMIsInternetConnected: %s", connected ? L"connected" : L"disconnected");
  call.ReturnBool(connected);
  return S_OK;
}

}  // namespace stubframework::externalmethods
