// window.external: the script bridge. Resolves script names against the
// method table and calls its handlers; holds the host window and the property
// store operations under the table's lock, leads the methods to the run's
// state, and receives archive extraction progress.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "base/property_bag.h"
#include "archive/zip_reporter.h"
#include "htmlui/mshtml_external.h"
#include "htmlui/run_state.h"
#include "htmlui/script_methods.h"

namespace stubframework::htmlui {

// The size the window gets when the page sets none.
inline constexpr int kDefaultWidth = 400;
inline constexpr int kDefaultHeight = 200;

class HtmlExternal : public MSHTMLExternal, public archive::ZipReporter {
 public:
  // Created with one reference; `properties` and `run` must outlive the
  // object. Without a run state (hosts that start no workers) run() is null.
  explicit HtmlExternal(base::PropertyBag& properties, RunState* run = nullptr);

  // Takes the table's names in its order (ascending names) and sets the four
  // progress counters. The table is not owned and must outlive every call.
  bool AttachMethods(ScriptMethods* methods);
  ScriptMethods* methods() const { return methods_; }
  // The (name, handler) pairs, in identifier order.
  const std::vector<ScriptMethods::Entry>& DispatchTable() const { return entries_; }

  // Host window; a change is passed on to the method table.
  void SetWindow(HWND window);
  // Places the window for width x height (96-DPI units) unless that size was
  // the last one applied.
  void SetWindowSize(int width, int height);
  // 400 x 200 while the window's client area is still empty.
  void ApplyDefaultSize();

  // The locked property operations; they do nothing before a table is attached.
  void SetProperty(const std::wstring& name, const std::wstring& value);
  std::wstring GetProperty(const std::wstring& name);
  void SetDownloadTotal(unsigned long value);
  void SetDownloadCurrent(unsigned long value);
  void SetInstallTotal(unsigned long value);
  void SetInstallCurrent(unsigned long value);
  long GetDownloadTotal();
  long GetDownloadCurrent();
  long GetInstallTotal();
  long GetInstallCurrent();

  // The run's workers and flags; owned by the application.
  RunState* run() const { return run_; }

  // Archive extraction progress: "installCurrent" = done x 0.1, "installTotal" = total.
  void Progress(unsigned done, unsigned total) override;
  void Error(int code) override { last_extraction_error_ = code; }
  int last_extraction_error() const { return last_extraction_error_; }

  int last_width() const { return width_; }
  int last_height() const { return height_; }

 protected:
  ~HtmlExternal() override = default;

  int MethodCount() const override { return static_cast<int>(entries_.size()); }
  const wchar_t* MethodName(int index) const override { return names_[index].c_str(); }
  HRESULT CallMethod(int index, WORD flags, DISPPARAMS* params, VARIANT* result) override;

 private:
  base::PropertyBag& bag_;
  std::optional<base::LockedProperties> properties_;
  ScriptMethods* methods_ = nullptr;
  std::vector<ScriptMethods::Entry> entries_;
  std::vector<std::wstring> names_;  // own copies of the entries' names
  int width_ = 0;
  int height_ = 0;
  int last_extraction_error_ = 0;
  RunState* run_;
};

}  // namespace stubframework::htmlui
