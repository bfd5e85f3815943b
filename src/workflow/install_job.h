// One `install` call: what the script method hands to the install worker,
// and what the installer runners share while one package installs.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>

#include "base/log.h"
#include "base/property_bag.h"
#include "htmlui/html_external.h"
#include "htmlui/page_callback.h"
#include "workflow/worker_host.h"

namespace stubframework::workflow {

// An executable's progress advances one tick per interval while it runs.
inline constexpr DWORD kInstallTickMs = 100;
inline constexpr long kTicksPerSecond = 1000 / kInstallTickMs;

// Created by the script method, owned and freed by the worker.
struct InstallJob {
  WorkerHost host;
  int64_t estimated_time = 0;  // seconds
  std::wstring params;         // as the method built them, placeholders still in
  std::wstring install_file;
  std::wstring shortcut;       // a desktop shortcut's file name to remove after success, or empty
  htmlui::CallbackStream callback_stream;

  // Copied from the application by the method.
  std::wstring product_id;
  std::wstring stub_path;  // the "shortcut=" argument: the stub file the user started
  int resume_mode = 0;
  // Adds an installer log to the files a failed run uploads.
  std::function<void(const std::wstring& path)> add_log_file;

  // The product leaves it as it is; tests run the ticks faster.
  DWORD tick_ms = kInstallTickMs;
};

// What an installer runner works with.
struct InstallerRun {
  base::Log* log = nullptr;
  base::LockedProperties* properties = nullptr;
  htmlui::HtmlExternal* bridge = nullptr;  // receives extraction progress; may be null
  DWORD tick_ms = kInstallTickMs;
  // Receives the raw result; its stop event ends the waiting. May be null.
  htmlui::RunState* run_state = nullptr;
  // A ZIP package was checked at the moment of use: its setup.exe comes from
  // extracting it now, never from what an earlier extraction left.
  bool extract_checked_package = false;

  void StoreLastInstallError(DWORD raw) const {
    if (run_state != nullptr) run_state->SetLastInstallError(raw);
  }
  HANDLE stop_event() const { return run_state != nullptr ? run_state->stop_event() : nullptr; }
};

}  // namespace stubframework::workflow
