// One request to the telemetry service over WinHTTP, with the user's proxy
// settings: a session, connection and request of its own, closed afterwards.
#pragma once

#include <windows.h>

#include <string>

#include "base/log.h"
#include "telemetry/service_endpoint.h"

namespace stubframework::telemetry {

// The most of an answer that is read; the rest is left unread.
inline constexpr size_t kMaxServiceReplyBytes = 64 * 1024;

struct ServiceReply {
  bool answered = false;  // the request went out and a response came back
  DWORD error = 0;        // the WinHTTP error when it did not
  DWORD status = 0;       // the HTTP status when it did
  std::string body;       // the answer's bytes, when asked for

  // The service took the request: it answered with a 2xx status.
  bool accepted() const { return answered && status >= 200 && status < 300; }
};

// Sends `body` with "Content-Type:application/xml" to `path` (with its
// query) and waits for the answer, reading up to kMaxServiceReplyBytes of it
// when `read_body`. Logs why when the service is not configured, cannot be
// reached or refuses the request.
// False, with one log line, when the endpoint has no host: the request is
// then skipped without any lookup.
bool ServiceConfigured(const ServiceEndpoint& endpoint, const wchar_t* verb, const std::wstring& path,
                       base::Log* log);

// A value for a URL query: UTF-8 with every byte but letters, digits and
// "-._~" percent-encoded.
std::wstring EscapeQueryValue(const std::wstring& value);

ServiceReply CallService(const ServiceEndpoint& endpoint, const wchar_t* verb, const std::wstring& path,
                         const std::string& body, bool read_body, base::Log* log);

}  // namespace stubframework::telemetry
