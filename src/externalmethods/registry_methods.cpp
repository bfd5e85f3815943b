#include "base/log.h"
#include "externalmethods/registry_methods.h"

#include "base/registry.h"
#include "externalmethods/external_methods.h"
#include "externalmethods/script_call.h"

namespace stubframework::externalmethods {

namespace {

// Boolean arguments are logged as the script passed them: -1 for true.
int ScriptBool(bool value) { return value ? -1 : 0; }

}  // namespace

HRESULT GetDataFromRegMethod(ExternalMethods& methods, ScriptCall& call) {
  std::wstring key = call.Text(0);
  std::wstring name = call.Text(1);
  std::wstring value;
  base::RegistryReadValue(key, name, value);
  base::LogDebug(methods.log(), L"EMGetDataFromReg args %s %s, Result %s", name.c_str(), key.c_str(), value.c_str());
  return call.ReturnText(value);
}

HRESULT SetDataToRegMethod(ExternalMethods& methods, ScriptCall& call) {
  std::wstring key = call.Text(0);
  std::wstring name = call.Text(1);
  std::wstring data = call.Text(2);
  bool view64 = call.Bool(3);
  base::RegistryWriteValue(key, name, data, view64);
  base::LogDebug(methods.log(), L"EMSetDataToReg %d, %s, %s, %s", ScriptBool(view64), data.c_str(), name.c_str(),
                 key.c_str());
  return S_OK;
}

HRESULT DeleteRegKeyMethod(ExternalMethods& methods, ScriptCall& call) {
  std::wstring key = call.Text(0);
  bool view64 = call.Bool(1);
  base::RegistryDeleteKey(key, view64);
  base::LogDebug(methods.log(), L"EMDeleteRegKey %d, %s", ScriptBool(view64), key.c_str());
  return S_OK;
}

HRESULT SearchRegKeyMethod(ExternalMethods& methods, ScriptCall& call) {
  bool view64 = call.Bool(0);
  std::wstring key = call.Text(1);
  std::wstring suffixes = call.Text(2);
  std::wstring name = call.Text(3);
  bool found = base::RegistrySearchKey(view64, key, suffixes, name);
  base::LogDebug(methods.log(), L"EMSearchRegKey %d %s %s %s", view64 ? 1 : 0, key.c_str(), suffixes.c_str(),
                 name.c_str());
  call.ReturnBool(found);
  return S_OK;
}

HRESULT GetBaseRegKeyMethod(ExternalMethods& methods, ScriptCall& call) {
  RunStore* store = methods.store();
  std::wstring base = store == nullptr ? std::wstring() : store->base_reg_key();
  HRESULT hr = call.ReturnText(base);
  base::LogDebug(methods.log(), L"EMGetBaseRegKey %s", base.c_str());
  return hr;
}

}  // namespace stubframework::externalmethods
