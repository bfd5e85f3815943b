// The product's own questions about the machine, answered by the system
// information rules, and the pageview forwarded to the collector. All but
// isNET46Installed and GetGAPostURL take any invocation and ignore arguments.
#pragma once

#include <windows.h>

namespace stubframework::externalmethods {

class ExternalMethods;
class ScriptCall;

HRESULT IsNet46InstalledMethod(ExternalMethods& methods, ScriptCall& call);
HRESULT IsWindows7GmMethod(ExternalMethods& methods, ScriptCall& call);
HRESULT IsWindows8GmMethod(ExternalMethods& methods, ScriptCall& call);
HRESULT IsWindows10Method(ExternalMethods& methods, ScriptCall& call);
HRESULT IsWindows7Method(ExternalMethods& methods, ScriptCall& call);
HRESULT IsWindows8Method(ExternalMethods& methods, ScriptCall& call);
HRESULT IsGreaterThanWindows10Method(ExternalMethods& methods, ScriptCall& call);
HRESULT IsIe8Method(ExternalMethods& methods, ScriptCall& call);
// CheckMinSys(): "LOWRES|LOWMEM|IELT11|WIN8" for what is lacking.
HRESULT CheckMinSysMethod(ExternalMethods& methods, ScriptCall& call);
HRESULT IsRequireRebootMethod(ExternalMethods& methods, ScriptCall& call);
HRESULT RemoveRebootKeyMethod(ExternalMethods& methods, ScriptCall& call);
HRESULT IsLowResMethod(ExternalMethods& methods, ScriptCall& call);
// GetUrlOSVersion(): "<major>.<build>".
HRESULT GetUrlOsVersionMethod(ExternalMethods& methods, ScriptCall& call);
// GetGAPostURL(body): posts the page's pageview; the answer is not reported.
HRESULT GetGaPostUrlMethod(ExternalMethods& methods, ScriptCall& call);

}  // namespace stubframework::externalmethods
