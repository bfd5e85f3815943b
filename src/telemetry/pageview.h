// The pageview post to the web-analytics collector: the page builds the whole
// form-encoded payload; this sends it once, on the calling thread.
#pragma once

#include <string>

#include "base/log.h"
#include "telemetry/service_endpoint.h"

namespace stubframework::telemetry {

// The payload as sent: each UTF-16 unit narrowed to its low 8 bits.
std::string NarrowToBytes(const std::wstring& payload);

// POSTs the payload to "/collect" and reads the answer (up to 64 KiB), all
// within utils::kPageviewDeadlineMs. Returns "OK", or one of "Error ",
// "Error WinHttpQueryDataAvailable - " and "Error WinHttpReadData - " naming
// the step that failed or missed the deadline. A collector without a host is
// not contacted (one log line, "Error ").
std::wstring PostPageview(const ServiceEndpoint& collector, const std::wstring& payload, base::Log* log);

}  // namespace stubframework::telemetry
