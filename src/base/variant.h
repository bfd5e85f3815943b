// Owner of a VARIANT: initialised empty, cleared once.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <string>

namespace stubframework::base {

class UniqueVariant {
 public:
  UniqueVariant() { ::VariantInit(&value_); }
  ~UniqueVariant() { ::VariantClear(&value_); }
  UniqueVariant(const UniqueVariant&) = delete;
  UniqueVariant& operator=(const UniqueVariant&) = delete;

  VARIANT* Get() { return &value_; }
  const VARIANT* Get() const { return &value_; }
  VARTYPE Type() const { return value_.vt; }

  // Clears the old value first; the receiver fills an empty VARIANT.
  VARIANT* Receive() {
    Clear();
    return &value_;
  }
  void Clear() { ::VariantClear(&value_); }

  void SetInt(LONG value) {
    Clear();
    value_.vt = VT_I4;
    value_.lVal = value;
  }
  void SetBool(bool value) {
    Clear();
    value_.vt = VT_BOOL;
    value_.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
  }
  // False when the string cannot be allocated; the variant is then empty.
  bool SetText(const std::wstring& text) {
    Clear();
    BSTR copy = ::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    if (copy == nullptr) return false;
    value_.vt = VT_BSTR;
    value_.bstrVal = copy;
    return true;
  }
  // Takes one reference of its own.
  void SetDispatch(IDispatch* object) {
    Clear();
    value_.vt = VT_DISPATCH;
    value_.pdispVal = object;
    if (object != nullptr) object->AddRef();
  }

  // Moves the value out, leaving this owner empty.
  VARIANT Release() {
    VARIANT out = value_;
    ::VariantInit(&value_);
    return out;
  }

 private:
  VARIANT value_;
};

}  // namespace stubframework::base
