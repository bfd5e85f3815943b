// Script methods over the property store.
#pragma once

#include <windows.h>

namespace stubframework::externalmethods {

class ExternalMethods;
class ScriptCall;

// setProperty(name, value): stores the pair.
HRESULT SetPropertyMethod(ExternalMethods& methods, ScriptCall& call);
// getProperty(name): the stored text, empty when never set.
HRESULT GetPropertyMethod(ExternalMethods& methods, ScriptCall& call);
// getResourceLocation(): the folder of the extracted UI bundle.
HRESULT GetResourceLocationMethod(ExternalMethods& methods, ScriptCall& call);

}  // namespace stubframework::externalmethods
