// The script methods of the self-update and of the component-list refresh.
// The method table's dispatcher has checked the call and logged the tag.
#pragma once

#include <windows.h>

namespace stubframework::externalmethods {

class ExternalMethods;
class ScriptCall;

// isSkipSelfUpdate(): "update=0" on the command line.
HRESULT IsSkipSelfUpdateMethod(ExternalMethods& methods, ScriptCall& call);
// isNeedSelfUpdate(url): whether the stub served at url differs from this one.
HRESULT IsNeedSelfUpdateMethod(ExternalMethods& methods, ScriptCall& call);
// selfUpdate(url, callback): downloads the newer stub beside this one.
HRESULT SelfUpdateMethod(ExternalMethods& methods, ScriptCall& call);
// updateInstallerList(url, downloadFile, isSecure, isResume, callback)
HRESULT UpdateInstallerListMethod(ExternalMethods& methods, ScriptCall& call);

}  // namespace stubframework::externalmethods
