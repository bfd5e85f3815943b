#include "externalmethods/script_call.h"

namespace stubframework::externalmethods {

std::wstring ScriptCall::Text(UINT index) const {
  const VARIANT& arg = Arg(index);
  if (arg.vt != VT_BSTR || arg.bstrVal == nullptr) return std::wstring();
  return std::wstring(arg.bstrVal, ::SysStringLen(arg.bstrVal));
}

LONG ScriptCall::Int(UINT index) const {
  const VARIANT& arg = Arg(index);
  return arg.vt == VT_I4 ? arg.lVal : 0;
}

bool ScriptCall::Bool(UINT index) const {
  const VARIANT& arg = Arg(index);
  return arg.vt == VT_BOOL && arg.boolVal != VARIANT_FALSE;
}

IDispatch* ScriptCall::Callback(UINT index) const {
  const VARIANT& arg = Arg(index);
  return arg.vt == VT_DISPATCH ? arg.pdispVal : nullptr;
}

// The result slot is an out parameter: the caller hands it over empty, so it
// is overwritten, not cleared.
HRESULT ScriptCall::ReturnText(const std::wstring& text) {
  if (result_ == nullptr) return S_OK;
  ::VariantInit(result_);
  BSTR copy = ::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  if (copy == nullptr) return E_OUTOFMEMORY;
  result_->vt = VT_BSTR;
  result_->bstrVal = copy;
  return S_OK;
}

void ScriptCall::ReturnBool(bool value) {
  if (result_ == nullptr) return;
  ::VariantInit(result_);
  result_->vt = VT_BOOL;
  result_->boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
}

void ScriptCall::ReturnInt(LONG value) {
  if (result_ == nullptr) return;
  ::VariantInit(result_);
  result_->vt = VT_I4;
  result_->lVal = value;
}

void ScriptCall::ReturnUnsigned(ULONG value) {
  if (result_ == nullptr) return;
  ::VariantInit(result_);
  result_->vt = VT_UI4;
  result_->ulVal = value;
}

}  // namespace stubframework::externalmethods
