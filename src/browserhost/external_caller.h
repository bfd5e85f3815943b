// What a browser's script engine does with window.external, done for the
// pages of the browser host: names are resolved with GetDispID (GetIDsOfNames
// where the object has no IDispatchEx) and every access is an InvokeEx (or
// Invoke) with real VARIANTs, on the UI thread.
#pragma once

#include <windows.h>
#include <dispex.h>
#include <wrl/client.h>

#include <string>
#include <vector>

namespace stubframework::browserhost {

class ExternalCaller {
 public:
  enum class Kind { kMissing, kMethod, kValue };

  explicit ExternalCaller(IDispatch* external);

  // `external.name` read: a method (the page makes a function of it), a
  // value (filled into `value`), or no such member.
  HRESULT Get(const std::wstring& name, Kind* kind, VARIANT* value);
  // `external.name = value`: creates the member when it does not exist.
  HRESULT Put(const std::wstring& name, VARIANT* value);
  // `external.name(args)`, `args` in script order.
  //
  // The engine calls with DISPATCH_METHOD | DISPATCH_PROPERTYGET (3) when the
  // call has arguments and its value is used, and with DISPATCH_METHOD (1)
  // otherwise. A page cannot tell whether its caller uses the value, so a
  // method call with arguments goes first as a plain method call without a
  // result slot and, when the object refuses that kind of call before doing
  // anything (DISP_E_MEMBERNOTFOUND), again with both flags and a result slot.
  // An expando is called as a method with a result slot.
  HRESULT Call(const std::wstring& name, std::vector<VARIANT>* args, VARIANT* result);
  // `delete external.name`: S_OK deleted, S_FALSE when it cannot be.
  HRESULT Delete(const std::wstring& name);

 private:
  HRESULT FindMethod(const std::wstring& name, DISPID* id);
  HRESULT FindMember(const std::wstring& name, DWORD extra_flags, DISPID* id);
  HRESULT InvokeMember(DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result);

  Microsoft::WRL::ComPtr<IDispatch> dispatch_;
  Microsoft::WRL::ComPtr<IDispatchEx> dispatch_ex_;  // null when the object has none
};

}  // namespace stubframework::browserhost
