#include "base/log.h"
#include "externalmethods/property_methods.h"

#include "externalmethods/external_methods.h"
#include "externalmethods/script_call.h"

namespace stubframework::externalmethods {

HRESULT SetPropertyMethod(ExternalMethods& methods, ScriptCall& call) {
  std::wstring name = call.Text(0);
  std::wstring value = call.Text(1);
  methods.properties().SetProperty(name, value);
  base::LogDebug(methods.log(), L"EMSetProperty %s, %s", value.c_str(), name.c_str());
  return S_OK;
}

HRESULT GetPropertyMethod(ExternalMethods& methods, ScriptCall& call) {
  return call.ReturnText(methods.properties().GetProperty(call.Text(0)));
}

HRESULT GetResourceLocationMethod(ExternalMethods& methods, ScriptCall& call) {
  return call.ReturnText(methods.properties().GetProperty(L"resourceLocation"));
}

}  // namespace stubframework::externalmethods
