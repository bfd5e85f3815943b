#include "browserhost/page_function.h"

#include <vector>

#include "base/variant.h"
#include "browserhost/script_values.h"
#include "browserhost/utf8_text.h"
#include "htmlui/mshtml_external.h"

namespace stubframework::browserhost {

namespace {

// Answers "is this one of ours?" without a cast across apartments.
// {6C1D7E52-3B0A-4F7B-9D7E-5A1B2C3D4E60}
constexpr IID kIidPageFunction = {0x6c1d7e52, 0x3b0a, 0x4f7b, {0x9d, 0x7e, 0x5a, 0x1b, 0x2c, 0x3d, 0x4e, 0x60}};

}  // namespace

PageFunction* PageFunction::Create(std::shared_ptr<PageLink> link, std::string id) {
  return new PageFunction(std::move(link), std::move(id));
}

PageFunction* PageFunction::From(IUnknown* object) {
  if (object == nullptr) return nullptr;
  PageFunction* function = nullptr;
  if (FAILED(object->QueryInterface(kIidPageFunction, reinterpret_cast<void**>(&function)))) return nullptr;
  // The answer holds no reference: the caller's own keeps the object alive.
  return function;
}

STDMETHODIMP PageFunction::QueryInterface(REFIID riid, void** object) {
  if (object == nullptr) return E_POINTER;
  if (IsEqualIID(riid, kIidPageFunction)) {
    *object = this;
    return S_OK;
  }
  if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) || IsEqualIID(riid, htmlui::kIidDispatchEx)) {
    *object = static_cast<IDispatchEx*>(this);
    AddRef();
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) PageFunction::AddRef() { return static_cast<ULONG>(::InterlockedIncrement(&ref_count_)); }

STDMETHODIMP_(ULONG) PageFunction::Release() {
  LONG count = ::InterlockedDecrement(&ref_count_);
  if (count == 0) delete this;
  return static_cast<ULONG>(count);
}

STDMETHODIMP PageFunction::GetTypeInfoCount(UINT*) { return E_NOTIMPL; }
STDMETHODIMP PageFunction::GetTypeInfo(UINT, LCID, ITypeInfo**) { return E_NOTIMPL; }

STDMETHODIMP PageFunction::GetIDsOfNames(REFIID, LPOLESTR*, UINT count, LCID, DISPID* ids) {
  if (ids != nullptr) {
    for (UINT i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
  }
  return count == 0 ? S_OK : DISP_E_UNKNOWNNAME;
}

STDMETHODIMP PageFunction::Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                  EXCEPINFO* exception, UINT*) {
  if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
  if (id != DISPID_VALUE) return DISP_E_MEMBERNOTFOUND;
  return Call(flags, params, result, exception);
}

STDMETHODIMP PageFunction::GetDispID(BSTR, DWORD, DISPID* id) {
  if (id != nullptr) *id = DISPID_UNKNOWN;
  return DISP_E_UNKNOWNNAME;
}

STDMETHODIMP PageFunction::InvokeEx(DISPID id, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                    EXCEPINFO* exception, IServiceProvider*) {
  if (id != DISPID_VALUE) return DISP_E_MEMBERNOTFOUND;
  return Call(flags, params, result, exception);
}

STDMETHODIMP PageFunction::DeleteMemberByName(BSTR, DWORD) { return S_FALSE; }
STDMETHODIMP PageFunction::DeleteMemberByDispID(DISPID) { return S_FALSE; }
STDMETHODIMP PageFunction::GetMemberProperties(DISPID, DWORD, DWORD*) { return E_NOTIMPL; }
STDMETHODIMP PageFunction::GetMemberName(DISPID, BSTR*) { return E_NOTIMPL; }
STDMETHODIMP PageFunction::GetNextDispID(DWORD, DISPID, DISPID*) { return E_NOTIMPL; }
STDMETHODIMP PageFunction::GetNameSpaceParent(IUnknown**) { return E_NOTIMPL; }

HRESULT PageFunction::Call(WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception) {
  if ((flags & DISPATCH_METHOD) == 0) return DISP_E_MEMBERNOTFOUND;
  // Only positional arguments reach the function; a named "this" is dropped.
  ScriptValues values(link_);
  nlohmann::json args = nlohmann::json::array();
  if (params != nullptr) {
    for (UINT i = params->cArgs; i > params->cNamedArgs; --i) args.push_back(values.FromVariant(params->rgvarg[i - 1]));
  }
  PageFunctionSink* sink = link_ ? link_->sink : nullptr;
  if (sink == nullptr) return RPC_E_DISCONNECTED;
  // Holds this object while the page runs: its script may drop the last other reference.
  AddRef();
  nlohmann::json value;
  std::wstring error;
  HRESULT hr = sink->CallPageFunction(id_, args, &value, &error);
  Release();
  if (FAILED(hr)) return hr;
  if (!error.empty()) {
    if (exception != nullptr) {
      *exception = EXCEPINFO{};
      exception->bstrSource = ::SysAllocString(L"page script");
      exception->bstrDescription = ::SysAllocString(error.c_str());
      exception->scode = E_FAIL;
    }
    return DISP_E_EXCEPTION;
  }
  if (result == nullptr) return S_OK;
  ::VariantInit(result);
  return values.ToVariant(value, result);
}

}  // namespace stubframework::browserhost
