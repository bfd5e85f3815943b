// The script methods of the install workflow: install and getLastInstallError.
// The method table's dispatcher has checked the call and logged the tag.
#pragma once

#include <windows.h>

namespace stubframework::externalmethods {

class ExternalMethods;
class ScriptCall;

// install(shortcut, installFile, param, estimatedTime, callback): builds the
// installer's parameters, hides the window unless they are silent, starts the
// install worker and returns at once.
HRESULT InstallMethod(ExternalMethods& methods, ScriptCall& call);
// getLastInstallError(): the raw result of the last installer run, as VT_UI4.
HRESULT GetLastInstallErrorMethod(ExternalMethods& methods, ScriptCall& call);

}  // namespace stubframework::externalmethods
