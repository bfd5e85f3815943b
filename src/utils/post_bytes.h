// A synchronous HTTP POST with the system browser's user agent.
#pragma once

#include <string>

namespace stubframework::utils {

// Sends `body` to an http or https URL and reads the whole answer into
// `response` (whatever its status). False on any failure; logs nothing.
bool PostBytes(const std::wstring& url, const std::string& body, std::string* response);

// The system browser's user-agent string; empty when it cannot be read.
std::string BrowserUserAgent();

}  // namespace stubframework::utils
