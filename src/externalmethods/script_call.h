// One script call as a method body sees it: the arguments in script order and
// the result slot.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <cstdint>
#include <string>

namespace stubframework::externalmethods {

class ScriptCall {
 public:
  ScriptCall(WORD flags, DISPPARAMS* params, VARIANT* result) : flags_(flags), params_(params), result_(result) {}

  WORD flags() const { return flags_; }
  UINT count() const { return params_ == nullptr ? 0 : params_->cArgs; }
  UINT named_count() const { return params_ == nullptr ? 0 : params_->cNamedArgs; }

  // Argument `index` in script order; the argument block holds them last first.
  const VARIANT& Arg(UINT index) const { return params_->rgvarg[count() - 1 - index]; }
  // Typed reads. A value of another type reads as empty text, 0, false or null.
  std::wstring Text(UINT index) const;
  LONG Int(UINT index) const;
  bool Bool(UINT index) const;
  IDispatch* Callback(UINT index) const;

  // Whether the caller takes a result.
  bool has_result() const { return result_ != nullptr; }
  // Results; nothing is written when the caller takes none. Text is allocated
  // with the system string allocator and belongs to the caller.
  HRESULT ReturnText(const std::wstring& text);
  void ReturnBool(bool value);
  void ReturnInt(LONG value);
  void ReturnUnsigned(ULONG value);

 private:
  WORD flags_;
  DISPPARAMS* params_;
  VARIANT* result_;
};

}  // namespace stubframework::externalmethods
