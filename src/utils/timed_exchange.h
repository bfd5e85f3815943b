// One HTTP request over WinHTTP that ends by a deadline, whatever the other
// side or the network does: connecting, the TLS handshake, sending and the
// answer together. Used for the services that are optional to the user's goal
// (telemetry, the pageview) and for the token exchange, each of which runs on a
// thread that must not be held (the main thread, the page's thread).
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>

namespace stubframework::utils {

// The whole time each exchange may take; one place for all of them.
inline constexpr DWORD kReportDeadlineMs = 5000;      // start and end reports
inline constexpr DWORD kLogUploadDeadlineMs = 10000;  // the zipped logs (at most kMaxLogArchiveBytes)
inline constexpr DWORD kRegionDeadlineMs = 5000;
inline constexpr DWORD kActivityDeadlineMs = 5000;
inline constexpr DWORD kPageviewDeadlineMs = 5000;
inline constexpr DWORD kTokenDeadlineMs = 10000;

// Where an exchange stopped; named in the log line of a missed deadline.
enum class ExchangeStep { kOpen, kSend, kResponse, kAvailability, kRead, kDone };

// "opening", "sending", "waiting for the answer", "asking for the answer's
// bytes", "reading the answer", "done".
const wchar_t* ExchangeStepName(ExchangeStep step);

struct TimedRequest {
  const wchar_t* agent = L"";
  bool user_proxy = false;  // the current user's Internet Explorer proxy settings; else direct
  std::wstring host;
  unsigned short port = 0;
  bool secure = true;
  const wchar_t* verb = L"GET";
  std::wstring path;                 // with its query
  const wchar_t* version = nullptr;  // null: WinHTTP's default
  DWORD open_flags = 0;              // besides WINHTTP_FLAG_SECURE
  const wchar_t* headers = nullptr;
  std::string body;
  size_t read_limit = 0;  // 0: the answer's body is not read
  DWORD deadline_ms = kReportDeadlineMs;
};

struct TimedReply {
  bool answered = false;  // a status line and headers came back
  DWORD status = 0;
  DWORD error = 0;  // WinHTTP's error, or ERROR_WINHTTP_TIMEOUT for a missed deadline
  ExchangeStep step = ExchangeStep::kOpen;  // where it stopped (kDone: the answer was read)
  bool timed_out = false;
  bool over_limit = false;  // the answer had more than read_limit bytes; `body` holds the first read_limit
  std::string body;
};

// Sends the request and waits for the answer (and reads up to read_limit
// bytes of it) until deadline_ms has passed; then closes the request, which
// cancels whatever is pending. The body moves into the exchange, which may
// outlive the call where closing does not cancel at once (Wine completes the
// pending step first). Returns by the deadline plus the time to close
// the handles, never later. A deadline's failure has timed_out set and error
// ERROR_WINHTTP_TIMEOUT.
TimedReply ExchangeWithDeadline(TimedRequest request);

}  // namespace stubframework::utils
