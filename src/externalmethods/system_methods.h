// Script methods about the running system: its version, whether it meets a
// minimum, and whether it is online.
#pragma once

#include <windows.h>

namespace stubframework::externalmethods {

class ExternalMethods;
class ScriptCall;

// getOSVersion(): "major.minor" as this program is told.
HRESULT GetOSVersionMethod(ExternalMethods& methods, ScriptCall& call);
// checkOS(minimum, architecture): the true version against a named minimum.
HRESULT CheckOSMethod(ExternalMethods& methods, ScriptCall& call);
HRESULT IsInternetConnectedMethod(ExternalMethods& methods, ScriptCall& call);

}  // namespace stubframework::externalmethods
