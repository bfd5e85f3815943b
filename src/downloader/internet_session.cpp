#include "downloader/internet_session.h"

#include <windows.h>
#include <wininet.h>
#include <urlmon.h>

#include <cstdlib>

#include "downloader/object.h"
#include "downloader/result_codes.h"
#include "downloader/timeouts.h"

namespace stubframework::downloader {
namespace {
constexpr DWORD kInitialAgentSize = 256;
}  // namespace

void SetTransferTimeouts(HINTERNET handle, DWORD receive_ms) {
  DWORD timeout = kConnectTimeoutMs;
  ::InternetSetOptionW(handle, INTERNET_OPTION_CONNECT_TIMEOUT, &timeout, sizeof(timeout));
  timeout = kSendTimeoutMs;
  ::InternetSetOptionW(handle, INTERNET_OPTION_SEND_TIMEOUT, &timeout, sizeof(timeout));
  ::InternetSetOptionW(handle, INTERNET_OPTION_RECEIVE_TIMEOUT, &receive_ms, sizeof(receive_ms));
}

long OpenInternetSession(DWORD receive_timeout_ms, ILogger* logger, base::UniqueHInternet* session) {
  DWORD size = kInitialAgentSize;
  char* agent = static_cast<char*>(malloc(size));
  HRESULT hr = E_OUTOFMEMORY;
  while (agent != nullptr) {
    DWORD wanted = size;
    hr = ::ObtainUserAgentString(0, agent, &wanted);
    if (hr != E_OUTOFMEMORY) break;
    free(agent);
    size = wanted;
    agent = static_cast<char*>(malloc(size));
  }
  if (agent == nullptr) {
    logger->Log(L"HttpTask::CreateSession", L"malloc(%u) failed.", size);
    return kResultOutOfMemory;
  }
  if (FAILED(hr)) {
    // The misspelt name is the log line's fixed text.
    logger->Log(L"HttpTask::CreateSession", L"ObtailUserAgentString failed: 0x%08X.", hr);
    free(agent);
    return hr;
  }
  session->Reset(::InternetOpenA(agent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, INTERNET_FLAG_ASYNC));
  free(agent);
  if (!*session) {
    DWORD error = ::GetLastError();
    logger->Log(L"HttpTask::CreateSession", L"InternetOpenA failed: %u.", error);
    return ResultFromWin32(static_cast<long>(error));
  }
  SetTransferTimeouts(session->Get(), receive_timeout_ms);
  return kResultOk;
}

long OpenSharedSession(DWORD receive_timeout_ms, ILogger* logger, SharedSession** session) {
  *session = nullptr;
  auto* shared = details::Object<SharedSession>::Create();
  if (shared == nullptr) return kResultOutOfMemory;
  long result = OpenInternetSession(receive_timeout_ms, logger, shared->mutable_handle());
  if (result < 0) {
    shared->Release();
    return result;
  }
  *session = shared;
  return kResultOk;
}

}  // namespace stubframework::downloader
