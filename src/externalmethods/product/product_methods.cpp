#include "externalmethods/product/product_methods.h"

#include <string>

#include "base/log.h"
#include "externalmethods/external_methods.h"
#include "externalmethods/script_call.h"
#include "sysinfo/installed_software.h"
#include "sysinfo/minimum_system.h"
#include "sysinfo/pending_restart.h"
#include "sysinfo/windows_version.h"
#include "telemetry/pageview.h"

namespace stubframework::externalmethods {

namespace {

const sysinfo::FactSource& Facts(ExternalMethods& methods) { return FactsOf(methods.machine()); }

// Logs "Local <name> Result: validated|invalidated" and answers when asked.
HRESULT Answer(ExternalMethods& methods, ScriptCall& call, const wchar_t* name, bool value) {
  base::LogDebug(methods.log(), L"Local %s Result: %s", name, value ? L"validated" : L"invalidated");
  call.ReturnBool(value);
  return S_OK;
}

bool LabelIs(ExternalMethods& methods, const wchar_t* a, const wchar_t* b = nullptr) {
  const std::wstring label = sysinfo::SystemLabel(Facts(methods));
  return label == a || (b != nullptr && label == b);
}

// Internet Explorer 8 and older.
constexpr int kLastOldExplorer = 8;

}  // namespace

HRESULT IsNet46InstalledMethod(ExternalMethods& methods, ScriptCall& call) {
  return Answer(methods, call, L"isNET46Installed", sysinfo::IsNet46Installed(Facts(methods)));
}

HRESULT IsWindows7GmMethod(ExternalMethods& methods, ScriptCall& call) {
  return Answer(methods, call, L"isWindows7GM", LabelIs(methods, L"7"));
}

HRESULT IsWindows8GmMethod(ExternalMethods& methods, ScriptCall& call) {
  return Answer(methods, call, L"isWindows8GM", LabelIs(methods, L"8"));
}

HRESULT IsWindows10Method(ExternalMethods& methods, ScriptCall& call) {
  return Answer(methods, call, L"isWindows10", sysinfo::IsWindows10(Facts(methods)));
}

HRESULT IsWindows7Method(ExternalMethods& methods, ScriptCall& call) {
  return Answer(methods, call, L"isWindows7", LabelIs(methods, L"7", L"7.1"));
}

HRESULT IsWindows8Method(ExternalMethods& methods, ScriptCall& call) {
  return Answer(methods, call, L"isWindows8", LabelIs(methods, L"8", L"8.1"));
}

HRESULT IsGreaterThanWindows10Method(ExternalMethods& methods, ScriptCall& call) {
  return Answer(methods, call, L"isGreaterThanWindows10", sysinfo::IsLaterThanEarlyWindows10(Facts(methods)));
}

HRESULT IsIe8Method(ExternalMethods& methods, ScriptCall& call) {
  return Answer(methods, call, L"isIE8", sysinfo::InternetExplorerMajorVersion(Facts(methods)) <= kLastOldExplorer);
}

HRESULT CheckMinSysMethod(ExternalMethods& methods, ScriptCall& call) {
  const std::wstring flags = sysinfo::MinimumSystemFlags(Facts(methods));
  base::LogDebug(methods.log(), L"EMCheckMinSys, Result %s", flags.c_str());
  return call.ReturnText(flags);
}

HRESULT IsRequireRebootMethod(ExternalMethods& methods, ScriptCall& call) {
  return Answer(methods, call, L"isRequireReboot", sysinfo::IsRestartPending(Facts(methods)));
}

HRESULT RemoveRebootKeyMethod(ExternalMethods& methods, ScriptCall& call) {
  return Answer(methods, call, L"removeRebootKey", sysinfo::RemovePendingRestart());
}

HRESULT IsLowResMethod(ExternalMethods& methods, ScriptCall& call) {
  return Answer(methods, call, L"isLowRes", sysinfo::IsLowResolution(Facts(methods)));
}

HRESULT GetUrlOsVersionMethod(ExternalMethods& methods, ScriptCall& call) {
  const std::wstring version = sysinfo::UrlSystemVersion(Facts(methods));
  base::LogDebug(methods.log(), L"EMGetUrlOSVersion, Result %s", version.c_str());
  return call.ReturnText(version);
}

HRESULT GetGaPostUrlMethod(ExternalMethods& methods, ScriptCall& call) {
  const std::wstring body = call.Text(0);
  RunReports* reports = methods.reports();
  telemetry::Analytics* analytics = reports == nullptr ? nullptr : reports->analytics();
  // The collector's answer is not the page's business.
  if (analytics != nullptr) telemetry::PostPageview(analytics->services().collector, body, methods.log());
  base::LogDebug(methods.log(), L"GetGAPostURL: %s", body.c_str());
  return S_OK;
}

}  // namespace stubframework::externalmethods
