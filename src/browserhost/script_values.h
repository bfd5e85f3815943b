// Script values as they cross between the page and the native side, and the
// VARIANTs a script engine would make of them:
//   {"t":"s","v":"text"}  VT_BSTR        {"t":"b","v":true}  VT_BOOL
//   {"t":"s","u":[55296,97]}  VT_BSTR of these UTF-16 code units: text that
//                         has no UTF-8 form (an unpaired surrogate) crosses so
//   {"t":"i","v":5}       VT_I4          {"t":"d","v":0.5}   VT_R8
//   {"t":"null"}          VT_NULL        {"t":"undefined"}   VT_EMPTY
//   {"t":"fn","id":"…"}   VT_DISPATCH, a page function
//   {"t":"object"}        a native object the page cannot use
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <memory>

#include <nlohmann/json.hpp>

#include "browserhost/page_function.h"

namespace stubframework::browserhost {

class ScriptValues {
 public:
  explicit ScriptValues(std::shared_ptr<PageLink> link) : link_(std::move(link)) {}

  // Fills an empty VARIANT that the caller then owns. A page function becomes
  // a new PageFunction. Malformed values are E_INVALIDARG.
  HRESULT ToVariant(const nlohmann::json& value, VARIANT* out) const;
  // Integers of any width go as "i", texts as "s"; other types are converted
  // to text; by-reference values are read through.
  nlohmann::json FromVariant(const VARIANT& value) const;

 private:
  std::shared_ptr<PageLink> link_;
};

}  // namespace stubframework::browserhost
