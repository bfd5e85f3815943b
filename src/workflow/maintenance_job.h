// What the removal, repair and search methods hand to their workers.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "htmlui/page_callback.h"
#include "workflow/worker_host.h"

namespace stubframework::workflow {

// The maintenance command's progress: one step of "installCurrent" per
// interval while it runs, up to "installTotal", so the bar fills in 30 s.
inline constexpr DWORD kMaintenanceTickMs = 200;
inline constexpr unsigned long kMaintenanceTotal = 150;

// One removal or repair. Created by the script method, owned and freed by the worker.
struct UninstallJob {
  WorkerHost host;
  std::wstring command_line;
  std::wstring log_file;
  htmlui::CallbackStream callback_stream;
  // Adds the command's log to the files a failed run uploads.
  std::function<void(const std::wstring& path)> add_log_file;
  // The product leaves it as it is; tests tick faster.
  DWORD tick_ms = kMaintenanceTickMs;
};

// One search for a package file under a folder tree.
struct VerifyJob {
  WorkerHost host;
  std::wstring root_folder;
  std::wstring relative_path;
  htmlui::CallbackStream callback_stream;
};

}  // namespace stubframework::workflow
