#include "telemetry/service_client.h"

#include <algorithm>

#include "base/wide_format.h"
#include "telemetry/winhttp_handle.h"

namespace stubframework::telemetry {

namespace {

const wchar_t kUserAgent[] = L"Kandrel Message Client/1.0";
const wchar_t kContentType[] = L"Content-Type:application/xml";
constexpr DWORD kReadChunkBytes = 256;

// A session with the proxy the user set for Internet Explorer, or direct.
UniqueWinHttp OpenSession() {
  WINHTTP_CURRENT_USER_IE_PROXY_CONFIG ie = {};
  bool have_config = ::WinHttpGetIEProxyConfigForCurrentUser(&ie) != FALSE;
  UniqueWinHttp session;
  if (have_config && ie.lpszProxy != nullptr) {
    session.Reset(::WinHttpOpen(kUserAgent, WINHTTP_ACCESS_TYPE_NAMED_PROXY, ie.lpszProxy,
                                ie.lpszProxyBypass != nullptr ? ie.lpszProxyBypass : WINHTTP_NO_PROXY_BYPASS, 0));
  } else {
    session.Reset(
        ::WinHttpOpen(kUserAgent, WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
  }
  if (ie.lpszAutoConfigUrl != nullptr) ::GlobalFree(ie.lpszAutoConfigUrl);
  if (ie.lpszProxy != nullptr) ::GlobalFree(ie.lpszProxy);
  if (ie.lpszProxyBypass != nullptr) ::GlobalFree(ie.lpszProxyBypass);
  if (session) SetServiceTimeouts(session.Get());
  return session;
}

DWORD StatusCode(HINTERNET request) {
  DWORD status = 0;
  DWORD size = sizeof(status);
  if (!::WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX)) {
    return 0;
  }
  return status;
}

void ReadBody(HINTERNET request, std::string* body) {
  char chunk[kReadChunkBytes];
  while (body->size() < kMaxServiceReplyBytes) {
    DWORD wanted = static_cast<DWORD>(std::min<size_t>(sizeof(chunk), kMaxServiceReplyBytes - body->size()));
    DWORD read = 0;
    if (!::WinHttpReadData(request, chunk, wanted, &read) || read == 0) break;
    body->append(chunk, read);
  }
}

ServiceReply Exchange(const ServiceEndpoint& endpoint, const wchar_t* verb, const std::wstring& path,
                      const std::string& body, bool read_body) {
  ServiceReply reply;
  UniqueWinHttp session = OpenSession();
  UniqueWinHttp connection;
  if (session) connection.Reset(::WinHttpConnect(session.Get(), endpoint.host.c_str(), endpoint.port, 0));
  UniqueWinHttp request;
  if (connection) {
    DWORD flags = WINHTTP_FLAG_REFRESH | (endpoint.secure ? WINHTTP_FLAG_SECURE : 0);
    request.Reset(::WinHttpOpenRequest(connection.Get(), verb, path.c_str(), nullptr, WINHTTP_NO_REFERER,
                                       WINHTTP_DEFAULT_ACCEPT_TYPES, flags));
  }
  if (!request) {
    reply.error = ::GetLastError();
    return reply;
  }
  const DWORD length = static_cast<DWORD>(body.size());
  if (!::WinHttpSendRequest(request.Get(), kContentType, static_cast<DWORD>(-1L), const_cast<char*>(body.data()),
                            length, length, 0) ||
      !::WinHttpReceiveResponse(request.Get(), nullptr)) {
    reply.error = ::GetLastError();
    return reply;
  }
  reply.answered = true;
  reply.status = StatusCode(request.Get());
  if (read_body) ReadBody(request.Get(), &reply.body);
  return reply;
}

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
                         const std::string& body, bool read_body, base::Log* log) {
  if (!ServiceConfigured(endpoint, verb, path, log)) return ServiceReply();
  if (body.size() > MAXDWORD) return ServiceReply();
  ServiceReply reply = Exchange(endpoint, verb, path, body, read_body);
  if (!reply.answered) {
    base::LogError(log, L"Telemetry service %s %s failed: error %lu", verb, path.c_str(),
                   static_cast<unsigned long>(reply.error));
  } else if (!reply.accepted()) {
    base::LogError(log, L"Telemetry service %s %s answered status %lu", verb, path.c_str(),
                   static_cast<unsigned long>(reply.status));
  }
  return reply;
}

}  // namespace stubframework::telemetry
