// The page's activity events, each sent from a short-lived thread of its own
// so that the page never waits for the service.
#pragma once

#include <string>

#include "base/log.h"
#include "telemetry/service_endpoint.h"

namespace stubframework::telemetry {

inline constexpr wchar_t kUserActivityPath[] = L"/v1/logUserActivity";

// Starts the thread that POSTs `document` (the user-activity document, UTF-8);
// a failed send logs "TrackUserActivityTreadFunc track activity:<activity> failed!".
// False when no thread could be started.
bool StartUserActivityReport(const ServiceEndpoint& endpoint, std::string document, const std::wstring& activity,
                             base::Log* log);

}  // namespace stubframework::telemetry
