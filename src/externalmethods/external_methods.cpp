#include "externalmethods/external_methods.h"

#include "workflow/extracted_packages.h"
#include "externalmethods/script_call.h"
#include "externalmethods/shell_launch.h"

namespace stubframework::externalmethods {

ExternalMethods::Roles ExternalMethods::RolesOf(MethodHost* host) {
  if (host == nullptr) return Roles();
  return Roles{host, host, host, host, host, host, host, host};
}

ExternalMethods::ExternalMethods(MethodHost* host) : roles_(RolesOf(host)) {
  if (host != nullptr) {
    base::LockedProperties store = properties();
    workflow::RestoreExtractedPackages(host->log(), host->settings_key(), host->resume_mode(), store);
  }
  RegisterRows<0>(std::make_index_sequence<kBaseMethodCount>());
}

bool ExternalMethods::Enumerate(Entry* entries, std::size_t capacity) const {
  if (capacity < methods_.size()) return false;
  std::size_t i = 0;
  for (const auto& [name, handler] : methods_) entries[i++] = Entry{name.c_str(), handler};
  return true;
}

HRESULT ExternalMethods::CheckParamTypes(const DISPPARAMS* params, const VARTYPE* expected, UINT count) {
  UINT received = params == nullptr ? 0 : params->cArgs;
  if (count != received) {
    base::LogDebug(log(), L"CheckParamTypes -- DISP_E_BADPARAMCOUNT");
    return DISP_E_BADPARAMCOUNT;
  }
  for (UINT i = 0; i < count; ++i) {
    if (params->rgvarg[i].vt != expected[i]) {
      base::LogDebug(log(), L"CheckParamTypes -- DISP_E_TYPEMISMATCH position %d, received %d, expected %d", i,
                     params->rgvarg[i].vt, expected[i]);
      return DISP_E_TYPEMISMATCH;
    }
  }
  return S_OK;
}

base::LockedProperties ExternalMethods::properties() {
  return base::LockedProperties(roles_.store->properties(), lock_);
}

void ExternalMethods::LogTag(const MethodSignature& method, TagAt when) {
  if (method.tag != nullptr && method.tag_at == when) base::LogDebug(log(), L"%s", method.tag);
}

HRESULT ExternalMethods::Dispatch(const MethodSignature& method, WORD flags, DISPPARAMS* params, VARIANT* result) {
  ScriptCall call(flags, params, result);
  if (method.call != CallKind::kUnchecked) {
    LogTag(method, TagAt::kBeforeChecks);
    if (flags != static_cast<WORD>(method.call)) return DISP_E_MEMBERNOTFOUND;
    const int arity = method.arity();
    if (call.count() != static_cast<UINT>(arity) || call.named_count() != 0) return DISP_E_BADPARAMCOUNT;
    if (arity > 0 && method.checks_types()) {
      // The check walks the argument block, which holds the last script argument first.
      VARTYPE expected[kMaxArity];
      for (int i = 0; i < arity; ++i) expected[i] = method.args[arity - 1 - i];
      HRESULT checked = CheckParamTypes(params, expected, arity);
      if (FAILED(checked)) return checked;
    }
    LogTag(method, TagAt::kBeforeResultSlot);
    if (method.result != ResultKind::kNone && result == nullptr && !method.runs_without_result()) return S_OK;
  }
  LogTag(method, TagAt::kBeforeWork);
  if (method.body == nullptr) return E_NOTIMPL;
  return method.body(*this, call);
}

// A link to the web from a page: the shell opens it as the interactive user.
bool ExternalMethods::OpenInBrowser(const std::wstring& url) { return ShellLaunch(url, std::wstring()) >= 0; }

}  // namespace stubframework::externalmethods
