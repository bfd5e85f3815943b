// The method table behind window.external: every script-visible name mapped
// to its handler, the dispatch checks every handler applies, and the lock
// that guards the property store for script methods and worker threads.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <cstddef>
#include <map>
#include <string>
#include <utility>

#include "base/critical_section.h"
#include "base/log.h"
#include "base/property_bag.h"
#include "externalmethods/method_host.h"
#include "externalmethods/method_signature.h"
#include "htmlui/script_methods.h"

namespace stubframework::externalmethods {

class ExternalMethods : public htmlui::ScriptMethods {
 public:
  using Handler = htmlui::ScriptMethods::Handler;
  using Entry = htmlui::ScriptMethods::Entry;

  // Restores the properties of packages extracted before a restart (resume
  // mode only), drops that record, then registers the framework's names.
  // `host` may be null (tests of the table alone).
  explicit ExternalMethods(MethodHost* host);
  virtual ~ExternalMethods() = default;
  ExternalMethods(const ExternalMethods&) = delete;
  ExternalMethods& operator=(const ExternalMethods&) = delete;

  // The bridge calls this whenever its window changes; dialogs are owned by
  // it and window methods act on it.
  void SetHostWindow(HWND window) override { host_window_ = window; }
  bool OpenInBrowser(const std::wstring& url) override;
  HWND host_window() const { return host_window_; }

  // A second registration of a name replaces the first.
  void Register(const std::wstring& name, Handler handler) { methods_[name] = handler; }
  std::size_t Count() const override { return methods_.size(); }
  // Writes every (name, handler) pair in ascending code-unit order of the
  // names; false, writing nothing, when `capacity` is too small.
  bool Enumerate(Entry* entries, std::size_t capacity) const override;

  // Compares the type of each argument, from the last script argument up,
  // with `expected` (in the same order); logs and answers the first misfit.
  HRESULT CheckParamTypes(const DISPPARAMS* params, const VARTYPE* expected, UINT count);

  // The host's roles, null without a host: a method body asks for the one it uses.
  RunStore* store() const { return roles_.store; }
  LaunchFacts* launch() const { return roles_.launch; }
  RunReports* reports() const { return roles_.reports; }
  SelfUpdateHandover* handover() const { return roles_.handover; }
  RunSettings* settings() const { return roles_.settings; }
  MachineAccess* machine() const { return roles_.machine; }
  base::Log* log() const { return roles_.log == nullptr ? nullptr : roles_.log->log(); }
  htmlui::HtmlExternal* bridge() const { return roles_.page == nullptr ? nullptr : roles_.page->external(); }
  // The window side of the UI; null while no window is shown.
  htmlui::UiHost* ui_host() const { return roles_.page == nullptr ? nullptr : roles_.page->ui_host(); }
  // The property store under this table's lock.
  base::LockedProperties properties();
  base::CriticalSection& lock() override { return lock_; }

 protected:
  // Registers table rows kFirst .. kFirst + sizeof...(kOffsets) - 1.
  template <std::size_t kFirst, std::size_t... kOffsets>
  void RegisterRows(std::index_sequence<kOffsets...>) {
    (Register(MethodRow(kFirst + kOffsets).name, static_cast<Handler>(&ExternalMethods::Handle<kFirst + kOffsets>)),
     ...);
  }

 private:
  template <std::size_t kRow>
  HRESULT Handle(WORD flags, DISPPARAMS* params, VARIANT* result) {
    return Dispatch(MethodRow(kRow), flags, params, result);
  }
  // The dispatch contract, applied to every row alike.
  HRESULT Dispatch(const MethodSignature& method, WORD flags, DISPPARAMS* params, VARIANT* result);
  void LogTag(const MethodSignature& method, TagAt when);

  // Each role found once, so a body's question is a plain read.
  struct Roles {
    RunLog* log = nullptr;
    PageSide* page = nullptr;
    RunStore* store = nullptr;
    LaunchFacts* launch = nullptr;
    RunReports* reports = nullptr;
    SelfUpdateHandover* handover = nullptr;
    RunSettings* settings = nullptr;
    MachineAccess* machine = nullptr;
  };
  static Roles RolesOf(MethodHost* host);

  const Roles roles_;
  HWND host_window_ = nullptr;
  base::CriticalSection lock_;
  std::map<std::wstring, Handler> methods_;
};

}  // namespace stubframework::externalmethods
