// The worker's view of the application, filled from the method table that
// starts the worker.
#pragma once

#include "externalmethods/external_methods.h"
#include "workflow/worker_host.h"

namespace stubframework::externalmethods {

// Without a host the worker logs nothing and writes no registry record; the
// property store must then not be used.
workflow::WorkerHost WorkerHostOf(ExternalMethods& methods);
// The run that owns the workers; null without an application.
htmlui::RunState* RunStateOf(ExternalMethods& methods);

}  // namespace stubframework::externalmethods
