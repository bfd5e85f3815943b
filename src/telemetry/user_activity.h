// The page's activity events, each sent from a short-lived thread of its own
// so that the page never waits for the service. The run's worker set owns the
// thread; it ends within the post's deadline, which the run's join allows for.
#pragma once

#include <string>

#include "base/log.h"
#include "base/worker_set.h"
#include "telemetry/service_endpoint.h"

namespace stubframework::telemetry {

inline constexpr wchar_t kUserActivityPath[] = L"/v1/logUserActivity";

// Starts the thread that POSTs `document` (the user-activity document, UTF-8);
// a failed send logs "TrackUserActivityTreadFunc track activity:<activity> failed!".
// False when no thread could be started (no worker set, or it is stopping).
bool StartUserActivityReport(base::WorkerSet* workers, const ServiceEndpoint& endpoint, std::string document,
                             const std::wstring& activity, base::Log* log);

}  // namespace stubframework::telemetry
