#include "telemetry/pageview.h"

#include <windows.h>
#include <winhttp.h>

#include <cstdio>
#include <string>
#include <utility>

#include "utils/timed_exchange.h"

namespace stubframework::telemetry {

namespace {

const wchar_t kUserAgent[] = L"Vspec Program/1.1 HTTP/5.1";
const wchar_t kContentType[] = L"Content-Type:application/x-www-form-urlencoded";
const wchar_t kCollectPath[] = L"/collect";

const wchar_t kOk[] = L"OK";
const wchar_t kFailed[] = L"Error ";
const wchar_t kAvailabilityFailed[] = L"Error WinHttpQueryDataAvailable - ";
const wchar_t kReadFailed[] = L"Error WinHttpReadData - ";

// The answer is only echoed: reading stops after this much, whatever the
// collector announces.
constexpr size_t kMaxAnswerBytes = 64 * 1024;

// To standard output, without the C99 printf's formatting engine.
void Print(const std::string& text) { std::fwrite(text.data(), 1, text.size(), stdout); }

// The outcome of an exchange that was answered, by the step where it stopped.
const wchar_t* ReadOutcome(const utils::TimedReply& reply) {
  if (reply.step == utils::ExchangeStep::kAvailability) {
    Print("Error " + std::to_string(reply.error) + " in\tWinHttpQueryDataAvailable.\n");
    return kAvailabilityFailed;
  }
  if (reply.step == utils::ExchangeStep::kRead) {
    Print("Error " + std::to_string(reply.error) + " in WinHttpReadData.\n");
    return kReadFailed;
  }
  return kOk;
}

}  // namespace

std::string NarrowToBytes(const std::wstring& payload) {
  std::string bytes;
  bytes.reserve(payload.size());
  for (wchar_t unit : payload) bytes.push_back(static_cast<char>(unit & 0xFF));
  return bytes;
}

std::wstring PostPageview(const ServiceEndpoint& collector, const std::wstring& payload, base::Log* log) {
  if (!collector.configured()) {
    base::LogDebug(log, L"Pageview collector not configured: POST %s skipped", kCollectPath);
    return kFailed;
  }
  utils::TimedRequest request;
  request.agent = kUserAgent;
  request.host = collector.host;
  request.port = collector.port;
  request.secure = collector.secure;
  request.verb = L"POST";
  request.path = kCollectPath;
  request.version = L"HTTP/1.1";
  request.open_flags = WINHTTP_FLAG_ESCAPE_DISABLE;
  request.headers = kContentType;
  request.body = NarrowToBytes(payload);
  request.read_limit = kMaxAnswerBytes;
  request.deadline_ms = utils::kPageviewDeadlineMs;
  if (request.body.size() > MAXDWORD) return kFailed;
  utils::TimedReply reply = utils::ExchangeWithDeadline(std::move(request));
  if (reply.timed_out) {
    base::LogError(log, L"Pageview POST %s failed: no answer within %lu s (%s)", kCollectPath,
                   static_cast<unsigned long>(utils::kPageviewDeadlineMs / 1000), utils::ExchangeStepName(reply.step));
  }
  if (!reply.answered) {
    if (!reply.timed_out) {
      base::LogError(log, L"Pageview POST %s failed: error %lu", kCollectPath, static_cast<unsigned long>(reply.error));
    }
    return kFailed;
  }
  std::fwrite(reply.body.data(), 1, reply.body.size(), stdout);
  return ReadOutcome(reply);
}

}  // namespace stubframework::telemetry
