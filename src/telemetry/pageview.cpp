#include "telemetry/pageview.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <new>
#include <string>

#include "telemetry/winhttp_handle.h"

namespace stubframework::telemetry {

namespace {

const wchar_t kUserAgent[] = L"Vspec Program/1.1 HTTP/5.1";
const wchar_t kContentType[] = L"Content-Type:application/x-www-form-urlencoded";
const wchar_t kCollectPath[] = L"/collect";

const wchar_t kOk[] = L"OK";
const wchar_t kFailed[] = L"Error ";
const wchar_t kAvailabilityFailed[] = L"Error WinHttpQueryDataAvailable - ";
const wchar_t kOutOfMemory[] = L"Error - Out of memory - ";
const wchar_t kReadFailed[] = L"Error WinHttpReadData - ";

// The answer is only echoed: reading stops after this much, and no single
// piece is larger, whatever the collector announces.
constexpr DWORD kMaxAnswerBytes = 64 * 1024;

// To standard output, without the C99 printf's formatting engine.
void Print(const std::string& text) { std::fwrite(text.data(), 1, text.size(), stdout); }

// Reads the answer to standard output; the outcome of the reading.
const wchar_t* ReadAnswer(HINTERNET request) {
  DWORD total = 0;
  for (;;) {
    DWORD available = 0;
    if (!::WinHttpQueryDataAvailable(request, &available)) {
      Print("Error " + std::to_string(::GetLastError()) + " in\tWinHttpQueryDataAvailable.\n");
      return kAvailabilityFailed;
    }
    if (available == 0 || total >= kMaxAnswerBytes) return kOk;
    available = std::min(available, kMaxAnswerBytes - total);
    std::unique_ptr<char[]> buffer(new (std::nothrow) char[available + 1]);
    if (!buffer) {
      Print("Out of memory\n");
      return kOutOfMemory;
    }
    DWORD read = 0;
    if (!::WinHttpReadData(request, buffer.get(), available, &read)) {
      Print("Error " + std::to_string(::GetLastError()) + " in WinHttpReadData.\n");
      return kReadFailed;
    }
    buffer[read] = '\0';
    std::fwrite(buffer.get(), 1, read, stdout);
    total += read;
    if (read == 0) return kOk;
  }
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
  const std::string body = NarrowToBytes(payload);
  if (body.size() > MAXDWORD) return kFailed;
  UniqueWinHttp session(
      ::WinHttpOpen(kUserAgent, WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
  UniqueWinHttp connection;
  if (session) {
    SetServiceTimeouts(session.Get());
    connection.Reset(::WinHttpConnect(session.Get(), collector.host.c_str(), collector.port, 0));
  }
  UniqueWinHttp request;
  if (connection) {
    request.Reset(::WinHttpOpenRequest(connection.Get(), L"POST", kCollectPath, L"HTTP/1.1", WINHTTP_NO_REFERER,
                                       WINHTTP_DEFAULT_ACCEPT_TYPES,
                                       WINHTTP_FLAG_ESCAPE_DISABLE | (collector.secure ? WINHTTP_FLAG_SECURE : 0)));
  }
  const DWORD length = static_cast<DWORD>(body.size());
  bool answered = request &&
                  ::WinHttpSendRequest(request.Get(), kContentType, static_cast<DWORD>(-1L),
                                       const_cast<char*>(body.data()), length, length, 0) &&
                  ::WinHttpReceiveResponse(request.Get(), nullptr);
  if (!answered) {
    base::LogError(log, L"Pageview POST %s failed: error %lu", kCollectPath,
                   static_cast<unsigned long>(::GetLastError()));
    return kFailed;
  }
  return ReadAnswer(request.Get());
}

}  // namespace stubframework::telemetry
