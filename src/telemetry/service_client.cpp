#include "telemetry/service_client.h"

#include <windows.h>
#include <winhttp.h>

#include <utility>

#include "base/wide_format.h"

namespace stubframework::telemetry {

namespace {

const wchar_t kUserAgent[] = L"Kandrel Message Client/1.0";
const wchar_t kContentType[] = L"Content-Type:application/xml";

}  // namespace

bool ServiceConfigured(const ServiceEndpoint& endpoint, const wchar_t* verb, const std::wstring& path,
                       base::Log* log) {
  if (endpoint.configured()) return true;
  base::LogDebug(log, L"Telemetry service not configured: %s %s skipped", verb, path.c_str());
  return false;
}

std::wstring EscapeQueryValue(const std::wstring& value) {
  static const wchar_t kHex[] = L"0123456789ABCDEF";
  std::wstring escaped;
  for (unsigned char byte : base::ToUtf8(value)) {
    bool plain = (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') || (byte >= '0' && byte <= '9') ||
                 byte == '-' || byte == '.' || byte == '_' || byte == '~';
    if (plain) {
      escaped.push_back(static_cast<wchar_t>(byte));
    } else {
      escaped += {L'%', kHex[byte >> 4], kHex[byte & 0xF]};
    }
  }
  return escaped;
}

ServiceReply CallService(const ServiceEndpoint& endpoint, const wchar_t* verb, const std::wstring& path,
                         std::string body, bool read_body, DWORD deadline_ms, base::Log* log) {
  if (!ServiceConfigured(endpoint, verb, path, log)) return ServiceReply();
  if (body.size() > MAXDWORD) return ServiceReply();
  utils::TimedRequest request;
  request.agent = kUserAgent;
  request.user_proxy = true;
  request.host = endpoint.host;
  request.port = endpoint.port;
  request.secure = endpoint.secure;
  request.verb = verb;
  request.path = path;
  request.open_flags = WINHTTP_FLAG_REFRESH;
  request.headers = kContentType;
  request.body = std::move(body);
  request.read_limit = read_body ? kMaxServiceReplyBytes : 0;
  request.deadline_ms = deadline_ms;
  utils::TimedReply answer = utils::ExchangeWithDeadline(std::move(request));

  ServiceReply reply;
  reply.answered = answer.answered && !answer.timed_out;
  reply.error = answer.error;
  reply.status = answer.status;
  reply.timed_out = answer.timed_out;
  reply.body = std::move(answer.body);
  if (answer.timed_out) {
    base::LogError(log, L"Telemetry service %s %s failed: no answer within %lu s (%s)", verb, path.c_str(),
                   static_cast<unsigned long>((deadline_ms + 999) / 1000), utils::ExchangeStepName(answer.step));
  } else if (!reply.answered) {
    base::LogError(log, L"Telemetry service %s %s failed: error %lu", verb, path.c_str(),
                   static_cast<unsigned long>(reply.error));
  } else if (!reply.accepted()) {
    base::LogError(log, L"Telemetry service %s %s answered status %lu", verb, path.c_str(),
                   static_cast<unsigned long>(reply.status));
  }
  return reply;
}

}  // namespace stubframework::telemetry
