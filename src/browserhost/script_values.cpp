#include "browserhost/script_values.h"

#include <cmath>
#include <limits>

#include "base/variant.h"
#include "browserhost/script_value.h"
#include "browserhost/utf8_text.h"

namespace stubframework::browserhost {

namespace {

using nlohmann::json;

json Typed(const char* type) { return json{{"t", type}}; }

template <typename T>
json Typed(const char* type, T value) {
  return json{{"t", type}, {"v", value}};
}

json Text(const std::wstring& text) {
  if (IsWellFormedUtf16(text)) return Typed("s", ToUtf8(text));
  json units = json::array();
  for (wchar_t unit : text) units.push_back(static_cast<unsigned>(unit));
  return json{{"t", "s"}, {"u", std::move(units)}};
}

}  // namespace

HRESULT ScriptValues::ToVariant(const json& value, VARIANT* out) const {
  ::VariantInit(out);
  ScriptValue decoded;
  if (!DecodeScriptValue(value, &decoded)) return E_INVALIDARG;
  switch (decoded.kind) {
    case ScriptValue::Kind::kUndefined:
      return S_OK;
    case ScriptValue::Kind::kNull:
      out->vt = VT_NULL;
      return S_OK;
    case ScriptValue::Kind::kText: {
      std::wstring text = decoded.from_units ? std::wstring(decoded.units.begin(), decoded.units.end())
                                             : FromUtf8(decoded.utf8);
      BSTR copy = ::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
      if (copy == nullptr) return E_OUTOFMEMORY;
      out->vt = VT_BSTR;
      out->bstrVal = copy;
      return S_OK;
    }
    case ScriptValue::Kind::kBool:
      out->vt = VT_BOOL;
      out->boolVal = decoded.boolean ? VARIANT_TRUE : VARIANT_FALSE;
      return S_OK;
    case ScriptValue::Kind::kInteger:
      out->vt = VT_I4;
      out->lVal = decoded.integer;
      return S_OK;
    case ScriptValue::Kind::kNumber:
      out->vt = VT_R8;
      out->dblVal = decoded.number;
      return S_OK;
    case ScriptValue::Kind::kFunction:
      out->vt = VT_DISPATCH;
      out->pdispVal = static_cast<IDispatchEx*>(PageFunction::Create(link_, decoded.function_id));
      return S_OK;
  }
  return E_INVALIDARG;
}

json ScriptValues::FromVariant(const VARIANT& original) const {
  base::UniqueVariant direct;
  if (FAILED(::VariantCopyInd(direct.Get(), const_cast<VARIANT*>(&original)))) return Typed("undefined");
  const VARIANT& v = *direct.Get();
  switch (v.vt) {
    case VT_EMPTY: return Typed("undefined");
    case VT_NULL: return Typed("null");
    case VT_BSTR:
      return Text(v.bstrVal == nullptr ? std::wstring() : std::wstring(v.bstrVal, ::SysStringLen(v.bstrVal)));
    case VT_BOOL: return Typed("b", v.boolVal != VARIANT_FALSE);
    case VT_I1: return Typed("i", static_cast<int64_t>(v.cVal));
    case VT_UI1: return Typed("i", static_cast<int64_t>(v.bVal));
    case VT_I2: return Typed("i", static_cast<int64_t>(v.iVal));
    case VT_UI2: return Typed("i", static_cast<int64_t>(v.uiVal));
    case VT_I4: return Typed("i", static_cast<int64_t>(v.lVal));
    case VT_INT: return Typed("i", static_cast<int64_t>(v.intVal));
    case VT_UI4: return Typed("i", static_cast<int64_t>(v.ulVal));
    case VT_UINT: return Typed("i", static_cast<int64_t>(v.uintVal));
    case VT_I8: return Typed("i", static_cast<int64_t>(v.llVal));
    case VT_UI8:
      if (v.ullVal <= static_cast<ULONGLONG>(std::numeric_limits<int64_t>::max())) {
        return Typed("i", static_cast<int64_t>(v.ullVal));
      }
      return Typed("d", static_cast<double>(v.ullVal));
    case VT_R4: return Typed("d", static_cast<double>(v.fltVal));
    case VT_R8:
      // JSON has no NaN or infinity; the page reads null for them.
      if (!std::isfinite(v.dblVal)) return Typed("null");
      return Typed("d", v.dblVal);
    case VT_DISPATCH:
    case VT_UNKNOWN: {
      if (PageFunction* function = PageFunction::From(v.punkVal)) return json{{"t", "fn"}, {"id", function->id()}};
      return Typed("object");
    }
    default: {
      base::UniqueVariant text;
      if (SUCCEEDED(::VariantChangeType(text.Get(), const_cast<VARIANT*>(&v), 0, VT_BSTR)) && text.Get()->bstrVal != nullptr) {
        BSTR b = text.Get()->bstrVal;
        return Text(std::wstring(b, ::SysStringLen(b)));
      }
      return Typed("undefined");
    }
  }
}

}  // namespace stubframework::browserhost
