// The removal and repair worker: runs one maintenance command line, shows its
// progress through "installCurrent"/"installTotal" and reports one final code.
#pragma once

#include <windows.h>

#include <string>

#include "base/log.h"
#include "base/property_bag.h"
#include "htmlui/run_state.h"
#include "workflow/maintenance_job.h"

namespace stubframework::workflow {

// `param` is an UninstallJob created with new; the worker owns and frees it.
// The page's function is called once, with the final error-handle code alone.
DWORD WINAPI UninstallThreadFunc(void* param);

// Starts `command_line` and waits for it, moving "installCurrent" one step
// towards "installTotal" (150) every `tick_ms` while it runs and setting it to
// the total at the end. Returns the mapped exit code, or kFailure when the
// command cannot be started, or kCancelled when the run closes first (the
// command goes on); the raw exit code goes to the run's state (may be null).
int RunMaintenanceCommand(base::Log* log, base::LockedProperties& properties, htmlui::RunState* run,
                          const std::wstring& command_line, DWORD tick_ms = kMaintenanceTickMs);

}  // namespace stubframework::workflow
