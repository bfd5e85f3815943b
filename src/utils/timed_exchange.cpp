#include "utils/timed_exchange.h"

#include <winhttp.h>

#include <algorithm>
#include <memory>
#include <new>

#include "base/critical_section.h"
#include "base/unique_handle.h"
#include "utils/winhttp_handle.h"

namespace stubframework::utils {

namespace {

constexpr DWORD kChunkBytes = 16 * 1024;

// One exchange in WinHTTP's asynchronous mode.
//
// States (step_): kSend -> SENDREQUEST_COMPLETE -> kResponse ->
// HEADERS_AVAILABLE -> kAvailability <-> kRead (DATA_AVAILABLE, READ_COMPLETE)
// -> finished; REQUEST_ERROR finishes from any of them.
// Threads: the caller starts the send and waits on done_ until the deadline,
// then detaches the request (request_ = null) and closes it. WinHTTP's
// callbacks run on its own threads (or nested in a call that completes at
// once) and act on the request only while it is attached, under lock_.
// Lifetime: one reference for the caller, one for the request handle, which
// WinHTTP drops with HANDLE_CLOSING, the last callback of the handle. Where
// closing does not cancel at once (Wine finishes the pending step first), the
// exchange outlives the call; it owns everything the pending step uses.
class Exchange {
 public:
  Exchange(std::string body, size_t read_limit) : body_(std::move(body)), read_limit_(read_limit) {}

  bool Init() {
    done_.Reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    return static_cast<bool>(done_);
  }
  void AddRef() { ::InterlockedIncrement(&refs_); }
  void Release() {
    if (::InterlockedDecrement(&refs_) == 0) delete this;
  }

  // Caller: the request is open and its callback set.
  void Attach(HINTERNET request) {
    base::ScopedLock hold(lock_);
    request_ = request;
    AddRef();  // the handle's reference, dropped at HANDLE_CLOSING
  }

  // Caller: sends, then waits until the exchange finishes or `wait_ms` passes.
  void SendAndWait(const wchar_t* headers, DWORD wait_ms) {
    HINTERNET request = nullptr;
    {
      base::ScopedLock hold(lock_);
      step_ = ExchangeStep::kSend;
      request = request_;
    }
    // Not under the lock: completions may arrive on WinHTTP's threads before
    // the call returns. Only this thread detaches the request.
    const DWORD length = static_cast<DWORD>(body_.size());
    if (!::WinHttpSendRequest(request, headers != nullptr ? headers : WINHTTP_NO_ADDITIONAL_HEADERS,
                              headers != nullptr ? static_cast<DWORD>(-1L) : 0,
                              body_.empty() ? WINHTTP_NO_REQUEST_DATA : const_cast<char*>(body_.data()), length,
                              length, reinterpret_cast<DWORD_PTR>(this))) {
      const DWORD error = ::GetLastError();
      base::ScopedLock hold(lock_);
      FinishLocked(error);
    }
    ::WaitForSingleObject(done_.Get(), wait_ms);
  }

  // Caller: ends the exchange where it stands; returns the request to close.
  HINTERNET Detach(TimedReply* reply) {
    base::ScopedLock hold(lock_);
    if (!finished_) {
      finished_ = true;
      reply_.timed_out = true;
      reply_.error = ERROR_WINHTTP_TIMEOUT;
      reply_.step = step_;
    }
    *reply = std::move(reply_);
    return std::exchange(request_, nullptr);
  }

  void OnStatus(DWORD status, void* info, DWORD length) {
    if (status == WINHTTP_CALLBACK_STATUS_HANDLE_CLOSING) {
      Release();
      return;
    }
    base::ScopedLock hold(lock_);
    if (request_ == nullptr || finished_) return;
    switch (status) {
      case WINHTTP_CALLBACK_STATUS_SENDREQUEST_COMPLETE:
        step_ = ExchangeStep::kResponse;
        if (!::WinHttpReceiveResponse(request_, nullptr)) FinishLocked(::GetLastError());
        break;
      case WINHTTP_CALLBACK_STATUS_HEADERS_AVAILABLE:
        OnHeaders();
        break;
      case WINHTTP_CALLBACK_STATUS_DATA_AVAILABLE:
        OnDataAvailable(info != nullptr ? *static_cast<DWORD*>(info) : 0);
        break;
      case WINHTTP_CALLBACK_STATUS_READ_COMPLETE:
        OnRead(length);
        break;
      case WINHTTP_CALLBACK_STATUS_REQUEST_ERROR: {
        const WINHTTP_ASYNC_RESULT* result = static_cast<const WINHTTP_ASYNC_RESULT*>(info);
        FinishLocked(result != nullptr ? result->dwError : ERROR_WINHTTP_INTERNAL_ERROR);
        break;
      }
      default:
        break;
    }
  }

 private:
  ~Exchange() = default;

  void OnHeaders() {
    reply_.answered = true;
    DWORD status = 0;
    DWORD size = sizeof(status);
    if (::WinHttpQueryHeaders(request_, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                              WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX)) {
      reply_.status = status;
    }
    if (read_limit_ == 0) {
      step_ = ExchangeStep::kDone;
      FinishLocked(0);
      return;
    }
    QueryMore();
  }

  void QueryMore() {
    step_ = ExchangeStep::kAvailability;
    if (!::WinHttpQueryDataAvailable(request_, nullptr)) FinishLocked(::GetLastError());
  }

  void OnDataAvailable(DWORD available) {
    if (available == 0) {
      step_ = ExchangeStep::kDone;
      FinishLocked(0);
      return;
    }
    // One byte past the limit tells an answer that ends there from a longer one.
    const size_t room = read_limit_ + 1 - reply_.body.size();
    const DWORD wanted = static_cast<DWORD>(std::min<size_t>({available, kChunkBytes, room}));
    step_ = ExchangeStep::kRead;
    if (!::WinHttpReadData(request_, chunk_, wanted, nullptr)) FinishLocked(::GetLastError());
  }

  void OnRead(DWORD read) {
    if (read == 0) {
      step_ = ExchangeStep::kDone;
      FinishLocked(0);
      return;
    }
    reply_.body.append(chunk_, std::min<DWORD>(read, kChunkBytes));
    if (reply_.body.size() > read_limit_) {
      reply_.body.resize(read_limit_);
      reply_.over_limit = true;
      step_ = ExchangeStep::kDone;
      FinishLocked(0);
      return;
    }
    QueryMore();
  }

  void FinishLocked(DWORD error) {
    if (finished_) return;
    finished_ = true;
    reply_.error = error;
    reply_.step = step_;
    ::SetEvent(done_.Get());
  }

  LONG refs_ = 1;
  base::CriticalSection lock_;
  HINTERNET request_ = nullptr;  // attached until the caller detaches it
  bool finished_ = false;
  ExchangeStep step_ = ExchangeStep::kOpen;
  TimedReply reply_;
  base::UniqueHandle done_;
  const std::string body_;  // sent from here, so it lives as long as the exchange
  const size_t read_limit_;
  char chunk_[kChunkBytes];
};

void CALLBACK OnExchangeStatus(HINTERNET, DWORD_PTR context, DWORD status, void* info, DWORD length) {
  if (context != 0) reinterpret_cast<Exchange*>(context)->OnStatus(status, info, length);
}

// A session with the user's Internet Explorer proxy settings, or direct.
UniqueWinHttp OpenSession(const TimedRequest& request) {
  WINHTTP_CURRENT_USER_IE_PROXY_CONFIG ie = {};
  bool have_config = request.user_proxy && ::WinHttpGetIEProxyConfigForCurrentUser(&ie) != FALSE;
  UniqueWinHttp session;
  if (have_config && ie.lpszProxy != nullptr) {
    session.Reset(::WinHttpOpen(request.agent, WINHTTP_ACCESS_TYPE_NAMED_PROXY, ie.lpszProxy,
                                ie.lpszProxyBypass != nullptr ? ie.lpszProxyBypass : WINHTTP_NO_PROXY_BYPASS,
                                WINHTTP_FLAG_ASYNC));
  } else {
    session.Reset(::WinHttpOpen(request.agent, WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                                WINHTTP_NO_PROXY_BYPASS, WINHTTP_FLAG_ASYNC));
  }
  if (have_config) {
    if (ie.lpszAutoConfigUrl != nullptr) ::GlobalFree(ie.lpszAutoConfigUrl);
    if (ie.lpszProxy != nullptr) ::GlobalFree(ie.lpszProxy);
    if (ie.lpszProxyBypass != nullptr) ::GlobalFree(ie.lpszProxyBypass);
  }
  return session;
}

}  // namespace

const wchar_t* ExchangeStepName(ExchangeStep step) {
  switch (step) {
    case ExchangeStep::kOpen:
      return L"opening";
    case ExchangeStep::kSend:
      return L"sending";
    case ExchangeStep::kResponse:
      return L"waiting for the answer";
    case ExchangeStep::kAvailability:
      return L"asking for the answer's bytes";
    case ExchangeStep::kRead:
      return L"reading the answer";
    case ExchangeStep::kDone:
      break;
  }
  return L"done";
}

TimedReply ExchangeWithDeadline(TimedRequest request) {
  TimedReply reply;
  const DWORD started = ::GetTickCount();
  if (request.body.size() > MAXDWORD) {
    reply.error = ERROR_INVALID_PARAMETER;
    return reply;
  }
  UniqueWinHttp session = OpenSession(request);
  UniqueWinHttp connection;
  if (session) connection.Reset(::WinHttpConnect(session.Get(), request.host.c_str(), request.port, 0));
  UniqueWinHttp opened;
  if (connection) {
    const DWORD flags = request.open_flags | (request.secure ? WINHTTP_FLAG_SECURE : 0);
    opened.Reset(::WinHttpOpenRequest(connection.Get(), request.verb, request.path.c_str(), request.version,
                                      WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES, flags));
  }
  if (!opened) {
    reply.error = ::GetLastError();
    return reply;
  }
  SetExchangeTimeouts(opened.Get(), request.deadline_ms);
  Exchange* exchange = new (std::nothrow) Exchange(std::move(request.body), request.read_limit);
  if (exchange == nullptr || !exchange->Init()) {
    if (exchange != nullptr) exchange->Release();
    reply.error = ERROR_NOT_ENOUGH_MEMORY;
    return reply;
  }
  DWORD_PTR context = reinterpret_cast<DWORD_PTR>(exchange);
  if (::WinHttpSetStatusCallback(opened.Get(), OnExchangeStatus, WINHTTP_CALLBACK_FLAG_ALL_NOTIFICATIONS, 0) ==
          WINHTTP_INVALID_STATUS_CALLBACK ||
      !::WinHttpSetOption(opened.Get(), WINHTTP_OPTION_CONTEXT_VALUE, &context, sizeof(context))) {
    reply.error = ::GetLastError();
    exchange->Release();
    return reply;
  }
  exchange->Attach(opened.Release());
  const DWORD spent = ::GetTickCount() - started;
  exchange->SendAndWait(request.headers, request.deadline_ms > spent ? request.deadline_ms - spent : 0);
  UniqueWinHttp detached(exchange->Detach(&reply));
  exchange->Release();
  return reply;  // the request closes first, then its connection and session
}

}  // namespace stubframework::utils
