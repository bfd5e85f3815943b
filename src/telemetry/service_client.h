// One request to the telemetry service over WinHTTP, with the user's proxy
// settings: a session, connection and request of its own, closed afterwards,
// and a deadline for all of it (utils/timed_exchange.h).
#pragma once

#include <windows.h>

#include <string>

#include "base/log.h"
#include "utils/timed_exchange.h"
#include "telemetry/service_endpoint.h"

namespace stubframework::telemetry {

// The most of an answer that is read; the rest is left unread.
inline constexpr size_t kMaxServiceReplyBytes = 64 * 1024;

struct ServiceReply {
  bool answered = false;  // the request went out and a response came back
  DWORD error = 0;        // the WinHTTP error when it did not
  DWORD status = 0;       // the HTTP status when it did
  bool timed_out = false;  // the deadline passed first (error is then ERROR_WINHTTP_TIMEOUT)
  std::string body;       // the answer's bytes, when asked for

  // The service took the request: it answered with a 2xx status.
  bool accepted() const { return answered && status >= 200 && status < 300; }
};

// False, with one log line, when the endpoint has no host: the request is
// then skipped without any lookup.
bool ServiceConfigured(const ServiceEndpoint& endpoint, const wchar_t* verb, const std::wstring& path,
                       base::Log* log);

// A value for a URL query: UTF-8 with every byte but letters, digits and
// "-._~" percent-encoded.
std::wstring EscapeQueryValue(const std::wstring& value);

// Sends `body` with "Content-Type:application/xml" to `path` (with its
// query) and waits for the answer, reading up to kMaxServiceReplyBytes of it
// when `read_body`, for at most `deadline_ms` in all. Logs why when the
// service is not configured, cannot be reached, refuses the request or
// misses the deadline (naming the step and the seconds).
ServiceReply CallService(const ServiceEndpoint& endpoint, const wchar_t* verb, const std::wstring& path,
                         std::string body, bool read_body, DWORD deadline_ms, base::Log* log);

}  // namespace stubframework::telemetry
