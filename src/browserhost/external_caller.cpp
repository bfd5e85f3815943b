#include "browserhost/external_caller.h"

#include "base/bstr.h"
#include "htmlui/mshtml_external.h"

namespace stubframework::browserhost {

namespace {

// The engine's LCID for script calls.
constexpr LCID kScriptLcid = 0x0800;  // LOCALE_SYSTEM_DEFAULT

}  // namespace

ExternalCaller::ExternalCaller(IDispatch* external) : dispatch_(external) {
  if (dispatch_) {
    dispatch_->QueryInterface(htmlui::kIidDispatchEx, reinterpret_cast<void**>(dispatch_ex_.GetAddressOf()));
  }
}

HRESULT ExternalCaller::FindMember(const std::wstring& name, DWORD extra_flags, DISPID* id) {
  *id = DISPID_UNKNOWN;
  if (!dispatch_) return E_POINTER;
  if (dispatch_ex_) {
    base::UniqueBstr bstr(name);
    if (!bstr) return E_OUTOFMEMORY;
    return dispatch_ex_->GetDispID(bstr.Get(), fdexNameCaseSensitive | extra_flags, id);
  }
  // A plain automation object has named methods only.
  if ((extra_flags & fdexNameEnsure) != 0) return DISP_E_UNKNOWNNAME;
  LPOLESTR names[1] = {const_cast<LPOLESTR>(name.c_str())};
  return dispatch_->GetIDsOfNames(IID_NULL, names, 1, kScriptLcid, id);
}

HRESULT ExternalCaller::FindMethod(const std::wstring& name, DISPID* id) {
  return FindMember(name, fdexNameNoDynamicProperties, id);
}

HRESULT ExternalCaller::InvokeMember(DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result) {
  if (result != nullptr) ::VariantInit(result);
  EXCEPINFO exception = {};
  HRESULT hr = dispatch_ex_
                   ? dispatch_ex_->InvokeEx(id, kScriptLcid, flags, params, result, &exception, nullptr)
                   : dispatch_->Invoke(id, IID_NULL, kScriptLcid, flags, params, result, &exception, nullptr);
  ::SysFreeString(exception.bstrSource);
  ::SysFreeString(exception.bstrDescription);
  ::SysFreeString(exception.bstrHelpFile);
  return hr;
}

HRESULT ExternalCaller::Get(const std::wstring& name, Kind* kind, VARIANT* value) {
  *kind = Kind::kMissing;
  ::VariantInit(value);
  DISPID id = DISPID_UNKNOWN;
  if (SUCCEEDED(FindMethod(name, &id))) {
    *kind = Kind::kMethod;
    return S_OK;
  }
  if (!dispatch_ex_ || FAILED(FindMember(name, 0, &id))) return S_OK;
  DISPPARAMS none = {nullptr, nullptr, 0, 0};
  HRESULT hr = InvokeMember(id, DISPATCH_PROPERTYGET, &none, value);
  if (SUCCEEDED(hr)) *kind = Kind::kValue;
  return hr;
}

HRESULT ExternalCaller::Put(const std::wstring& name, VARIANT* value) {
  DISPID id = DISPID_UNKNOWN;
  HRESULT hr = FindMember(name, fdexNameEnsure, &id);
  if (FAILED(hr)) return hr;
  DISPID put = DISPID_PROPERTYPUT;
  DISPPARAMS params = {value, &put, 1, 1};
  return InvokeMember(id, DISPATCH_PROPERTYPUT, &params, nullptr);
}

HRESULT ExternalCaller::Call(const std::wstring& name, std::vector<VARIANT>* args, VARIANT* result) {
  // The argument block holds the last script argument first.
  std::vector<VARIANT> laid_out(args->rbegin(), args->rend());
  DISPPARAMS params = {laid_out.empty() ? nullptr : laid_out.data(), nullptr, static_cast<UINT>(laid_out.size()), 0};
  DISPID id = DISPID_UNKNOWN;
  if (SUCCEEDED(FindMethod(name, &id))) {
    if (laid_out.empty()) return InvokeMember(id, DISPATCH_METHOD, &params, result);
    HRESULT hr = InvokeMember(id, DISPATCH_METHOD, &params, nullptr);
    if (hr != DISP_E_MEMBERNOTFOUND) return hr;
    return InvokeMember(id, DISPATCH_METHOD | DISPATCH_PROPERTYGET, &params, result);
  }
  HRESULT hr = FindMember(name, 0, &id);
  if (FAILED(hr)) return DISP_E_UNKNOWNNAME;
  return InvokeMember(id, DISPATCH_METHOD, &params, result);
}

HRESULT ExternalCaller::Delete(const std::wstring& name) {
  if (!dispatch_ex_) return S_FALSE;
  base::UniqueBstr bstr(name);
  if (!bstr) return E_OUTOFMEMORY;
  return dispatch_ex_->DeleteMemberByName(bstr.Get(), fdexNameCaseSensitive);
}

}  // namespace stubframework::browserhost
