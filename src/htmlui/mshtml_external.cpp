#include "htmlui/mshtml_external.h"

#include <wrl/client.h>

namespace stubframework::htmlui {

namespace {

bool IsMethodId(DISPID id, int count) { return id >= 1 && id <= count; }

}  // namespace

STDMETHODIMP MSHTMLExternal::QueryInterface(REFIID riid, void** object) {
  if (object == nullptr) return E_POINTER;
  if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) || IsEqualIID(riid, kIidDispatchEx)) {
    *object = static_cast<IDispatchEx*>(this);
    AddRef();
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) MSHTMLExternal::AddRef() { return ++ref_count_; }

STDMETHODIMP_(ULONG) MSHTMLExternal::Release() {
  LONG count = --ref_count_;
  if (count == 0) delete this;
  return count;
}

STDMETHODIMP MSHTMLExternal::GetTypeInfoCount(UINT*) { return E_NOTIMPL; }
STDMETHODIMP MSHTMLExternal::GetTypeInfo(UINT, LCID, ITypeInfo**) { return E_NOTIMPL; }

int MSHTMLExternal::FindMethod(const wchar_t* name, bool ignore_case) const {
  int count = MethodCount();
  for (int i = 0; i < count; ++i) {
    if (::CompareStringOrdinal(MethodName(i), -1, name, -1, ignore_case ? TRUE : FALSE) == CSTR_EQUAL) return i;
  }
  return -1;
}

STDMETHODIMP MSHTMLExternal::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
  if (count == 0) return S_OK;
  if (names == nullptr || ids == nullptr) return E_POINTER;
  HRESULT hr = S_OK;
  // Every name gets an answer, also after an unknown one.
  for (UINT i = 0; i < count; ++i) {
    int index = names[i] == nullptr ? -1 : FindMethod(names[i], false);
    ids[i] = index < 0 ? DISPID_UNKNOWN : index + 1;
    if (index < 0) hr = DISP_E_UNKNOWNNAME;
  }
  return hr;
}

STDMETHODIMP MSHTMLExternal::Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                    EXCEPINFO*, UINT*) {
  if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
  if (!IsMethodId(id, MethodCount())) return DISP_E_MEMBERNOTFOUND;
  return CallMethod(id - 1, flags, params, result);
}

STDMETHODIMP MSHTMLExternal::GetDispID(BSTR name, DWORD grfdex, DISPID* id) {
  if (id == nullptr) return E_POINTER;
  *id = DISPID_UNKNOWN;
  if (name == nullptr) return DISP_E_UNKNOWNNAME;
  bool ignore_case = (grfdex & fdexNameCaseInsensitive) != 0;
  bool ensure = (grfdex & fdexNameEnsure) != 0;

  int method = FindMethod(name, ignore_case);
  if (method >= 0) {
    *id = method + 1;
    return S_OK;
  }
  if ((grfdex & fdexNameNoDynamicProperties) == 0) {
    int index = expandos_.Find(name, ignore_case);
    if (index >= 0) {
      if (expandos_.IsDeleted(index)) {
        if (!ensure) return DISP_E_UNKNOWNNAME;
        expandos_.Revive(index);
      }
      *id = kExpandoBase + index;
      return S_OK;
    }
  }
  if (!ensure) return DISP_E_UNKNOWNNAME;
  int index = expandos_.Append(name);
  if (index < 0) return E_OUTOFMEMORY;
  *id = kExpandoBase + index;
  return S_OK;
}

STDMETHODIMP MSHTMLExternal::InvokeEx(DISPID id, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                                      EXCEPINFO* exception, IServiceProvider* caller) {
  if (id >= 0) return Invoke(id, IID_NULL, lcid, flags, params, result, exception, nullptr);
  int index = static_cast<int>(id & ~kExpandoBase);
  // A deleted entry is gone for script until GetDispID revives it; its marked
  // value must never be handed out as a VARIANT.
  if (index >= expandos_.count() || expandos_.IsDeleted(index)) return DISP_E_UNKNOWNNAME;
  return InvokeExpando(index, lcid, flags, params, result, exception, caller);
}

HRESULT MSHTMLExternal::InvokeExpando(int index, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                                      EXCEPINFO* exception, IServiceProvider* caller) {
  UINT count = params == nullptr ? 0 : params->cArgs;
  VARIANT& value = expandos_.Value(index);
  switch (flags) {
    case DISPATCH_PROPERTYGET:
      if (count != 0) return DISP_E_BADPARAMCOUNT;
      if (result == nullptr) return S_OK;
      ::VariantInit(result);
      return ::VariantCopy(result, &value);
    case DISPATCH_PROPERTYPUT:
    case DISPATCH_PROPERTYPUTREF: {
      if (count != 1) return DISP_E_BADPARAMCOUNT;
      if (params->cNamedArgs != 1 || params->rgdispidNamedArgs == nullptr ||
          params->rgdispidNamedArgs[0] != DISPID_PROPERTYPUT) {
        return DISP_E_PARAMNOTFOUND;
      }
      // Copied through a reference: the caller's memory may not outlive the call.
      VARIANT copy;
      ::VariantInit(&copy);
      HRESULT hr = ::VariantCopyInd(&copy, &params->rgvarg[0]);
      if (FAILED(hr)) return hr;
      ::VariantClear(&value);
      value = copy;
      return S_OK;
    }
    case DISPATCH_METHOD: {
      if (value.vt != VT_DISPATCH || value.pdispVal == nullptr) return S_OK;
      // The call may run script that deletes this very expando: hold the object.
      Microsoft::WRL::ComPtr<IDispatch> target(value.pdispVal);
      Microsoft::WRL::ComPtr<IDispatchEx> target_ex;
      if (SUCCEEDED(target->QueryInterface(kIidDispatchEx, reinterpret_cast<void**>(target_ex.GetAddressOf())))) {
        return target_ex->InvokeEx(DISPID_VALUE, lcid, flags, params, result, exception, caller);
      }
      return target->Invoke(DISPID_VALUE, IID_NULL, lcid, flags, params, result, exception, nullptr);
    }
    default:
      return E_NOTIMPL;
  }
}

STDMETHODIMP MSHTMLExternal::DeleteMemberByName(BSTR name, DWORD grfdex) {
  DISPID id = DISPID_UNKNOWN;
  // Looking up must not create the member it is about to delete.
  GetDispID(name, grfdex & ~static_cast<DWORD>(fdexNameEnsure), &id);
  return DeleteMemberByDispID(id);
}

STDMETHODIMP MSHTMLExternal::DeleteMemberByDispID(DISPID id) {
  if (IsMethodId(id, MethodCount())) return S_FALSE;
  if (id < 0) {
    int index = static_cast<int>(id & ~kExpandoBase);
    if (index < expandos_.count()) expandos_.Delete(index);
  }
  return S_OK;
}

STDMETHODIMP MSHTMLExternal::GetMemberProperties(DISPID, DWORD, DWORD*) { return E_NOTIMPL; }
STDMETHODIMP MSHTMLExternal::GetMemberName(DISPID, BSTR*) { return E_NOTIMPL; }
STDMETHODIMP MSHTMLExternal::GetNextDispID(DWORD, DISPID, DISPID*) { return E_NOTIMPL; }
STDMETHODIMP MSHTMLExternal::GetNameSpaceParent(IUnknown**) { return E_NOTIMPL; }

}  // namespace stubframework::htmlui
