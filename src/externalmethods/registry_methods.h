// Script methods that read, write, delete and search registry data.
#pragma once

#include <windows.h>

namespace stubframework::externalmethods {

class ExternalMethods;
class ScriptCall;

HRESULT GetDataFromRegMethod(ExternalMethods& methods, ScriptCall& call);
HRESULT SetDataToRegMethod(ExternalMethods& methods, ScriptCall& call);
HRESULT DeleteRegKeyMethod(ExternalMethods& methods, ScriptCall& call);
HRESULT SearchRegKeyMethod(ExternalMethods& methods, ScriptCall& call);
HRESULT GetBaseRegKeyMethod(ExternalMethods& methods, ScriptCall& call);

}  // namespace stubframework::externalmethods
