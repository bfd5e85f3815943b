// A synchronous HTTP POST with the system browser's user agent, bounded in
// time and in the size of its answer.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>

#include "utils/timed_exchange.h"

namespace stubframework::utils {

// The longest answer PostBytes accepts.
inline constexpr size_t kMaxPostAnswerBytes = 1 << 20;

// Sends `body` to an http or https URL and reads the whole answer into
// `response` (whatever its status), all within `deadline_ms`. False on any
// failure, a missed deadline or an answer longer than kMaxPostAnswerBytes
// (`response` is then empty); logs nothing.
bool PostBytes(const std::wstring& url, const std::string& body, std::string* response,
               DWORD deadline_ms = kTokenDeadlineMs);

// The system browser's user-agent string; empty when it cannot be read.
std::string BrowserUserAgent();

}  // namespace stubframework::utils
