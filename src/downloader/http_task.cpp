// HttpTask's flow: one GET at a time; what is pending at WinINet names the
// step its completion continues (Pending below).
//
//   Start: session, connection, request --------------> SendRequest
//   SendRequest    --sent (kSend)---------------------> AfterSend
//   AfterSend      --3xx with a Location--------------> FollowRedirect: the
//                    next hop's request, SendRequest again (at most
//                    kMaxRedirects hops)
//                  --any other status-----------------> ProcessHeader
//                    (OnHttpHeader), QueryAvailable
//   QueryAvailable --n bytes waiting (kAvailable)-----> ProcessData
//   ProcessData    --n = 0: the body's end------------> Finish(0)
//                  --read done (kRead)----------------> DeliverRead
//                    (OnData), QueryAvailable
//   a failure, Cancel, or a layer above that finished --> Finish; Abort
//                    once no step is inside (task_lock.h): after success
//                    the request is closed there; after a failure or cancel
//                    a thread-pool item delivers OnComplete at once, then
//                    closes the request (which may wait for its body)
//   INTERNET_STATUS_HANDLE_CLOSING -------------------> OnComplete(result)
//                    unless delivered already; the task drops its own
//                    reference
//
// Threads: a step runs on the thread that called the WinINet function when
// it answers at once, else on WinINet's callback thread, always between
// Enter and Leave; Cancel may come from any thread; callbacks are never
// called with the lock held.
#include "downloader/http_task.h"

#include <windows.h>
#include <wininet.h>
#include <urlmon.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "base/unique_handle.h"
#include "downloader/buffer.h"
#include "downloader/http_url.h"
#include "downloader/internet_session.h"
#include "downloader/object.h"
#include "downloader/read_size.h"
#include "downloader/redirects.h"
#include "downloader/resume_validator.h"
#include "downloader/result_codes.h"
#include "downloader/task_lock.h"
#include "downloader/timeouts.h"

namespace stubframework::downloader {
namespace {

using stubframework::base::UniqueHInternet;

// Redirects are followed by hand, so that a loop meets the stub's own limit
// and a stop between hops; nothing is read from or written to a cache.
constexpr DWORD kHttpFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_PRAGMA_NOCACHE |
                             INTERNET_FLAG_KEEP_CONNECTION | INTERNET_FLAG_NO_UI | INTERNET_FLAG_NO_AUTO_REDIRECT;
// Every byte is checked or stored as the server holds it: no compressed
// answer, and no proxy's copy of a file the publisher has since replaced.
constexpr char kFixedHeaders[] = "Accept-Encoding: identity\r\nCache-Control: no-cache\r\nPragma: no-cache\r\n";

int64 MicrosNow() {
  LARGE_INTEGER frequency;
  LARGE_INTEGER counter;
  ::QueryPerformanceFrequency(&frequency);
  ::QueryPerformanceCounter(&counter);
  return static_cast<int64>(counter.QuadPart / frequency.QuadPart * 1000000 +
                            counter.QuadPart % frequency.QuadPart * 1000000 / frequency.QuadPart);
}

class HttpTask : public ITask, public details::TaskLock<HttpTask, long> {
 public:
  HttpTask(const std::wstring& url, const HttpRange& range, IHttpCallback* callback, ILogger* logger,
           DWORD receive_timeout_ms, SharedSession* shared)
      : url_(url),
        range_(range),
        callback_(callback),
        receive_timeout_ms_(receive_timeout_ms),
        shared_(shared),
        logger_(logger) {
    callback_->AddRef();
    if (shared_ != nullptr) shared_->AddRef();
    logger_->AddRef();
  }

  ~HttpTask() {
    // Only a task that never delivered its end still holds the callback.
    if (callback_ != nullptr) callback_->Release();
    if (shared_ != nullptr) shared_->Release();
    logger_->Release();
  }

  void Start() override;
  void Cancel() override;

  // TaskLock's abort: closing the request ends whatever WinINet is doing and
  // leads to INTERNET_STATUS_HANDLE_CLOSING. On Windows a pending call ends
  // at once. Wine completes a pending call first (when data comes or the
  // receive timeout fires) and reads the rest of an unread body before it
  // lets go, seconds on a large file: a request that ends short is closed
  // on a thread-pool thread after its end has gone up, so that a stop lands
  // at once. The task lives on its own reference until the handle closes.
  void Abort() {
    HINTERNET request = request_.Release();
    if (request == nullptr) return;
    if (result < 0 && CloseDetached(request)) return;
    ::InternetCloseHandle(request);
  }

  long result = 0;

 private:
  // What WinINet is doing for the task: its completion continues that step.
  enum class Pending { kNothing, kSend, kAvailable, kRead };

  static void CALLBACK StatusCallback(HINTERNET handle, DWORD_PTR context, DWORD status, void* info,
                                      DWORD info_length);
  void OnStatus(DWORD status, void* info);
  void OnRequestComplete(const INTERNET_ASYNC_RESULT* async);
  void Continue();
  void DeliverPartialRead();
  void OnHandleClosing();
  bool CloseDetached(HINTERNET request);
  static DWORD WINAPI RunDetachedClose(void* self);
  void DeliverEnd(long code);

  long LogLastError(const wchar_t* context, const wchar_t* format);
  long CreateSession();
  long Connect();
  long OpenRequest(const std::wstring& url, UniqueHInternet* connection, UniqueHInternet* request);
  void FollowRedirect();
  void SendRequest();
  void SetRange();
  void SetIfRange();
  void AfterSend();
  void ProcessHeader();
  int GetStatusCode();
  std::string GetHeader(DWORD level);
  void GetContentRange(HttpHeader* header);
  int64 GetContentLength();
  void QueryAvailable();
  void AfterAvailable();
  bool ProcessData();
  void AfterRead();
  bool DeliverRead();

  std::wstring url_;
  HttpRange range_;
  IHttpCallback* volatile callback_;  // null once the end went up (DeliverEnd)
  HINTERNET detached_ = nullptr;     // the request a thread-pool item closes
  DWORD receive_timeout_ms_;
  SharedSession* shared_;    // when set, used instead of a session of its own
  UniqueHInternet session_;  // the task's own
  UniqueHInternet connection_;
  UniqueHInternet request_;
  DWORD available_ = 0;
  int redirects_ = 0;  // hops followed so far
  // One block for every read of this request, grown with the read size.
  Buffer buffer_;
  size_t read_size_ = kFirstReadSize;  // what the rate allows (read_size.h)
  DWORD asked_ = 0;                  // the read in progress: bytes asked,
  DWORD read_ = 0;                   // bytes received (WinINet fills it when a
  int64 read_started_ = 0;           // pending read completes), and its start
  Pending pending_ = Pending::kNothing;
  ILogger* logger_;
};

void HttpTask::Start() {
  // The end may come synchronously, and its callback may drop the caller's
  // reference: keep this object alive until Start returns.
  details::ScopedReference hold(this);
  Begin();
  logger_->Log(L"HttpTask::Start", L"Start %s (OFFSET:%lld,SIZE:%lld,ETAG:%S).", url_.c_str(), range_.offset,
               range_.size, range_.etag.c_str());
  long code = CreateSession();
  if (code < 0) {
    DeliverEnd(code);
    return;
  }
  code = Connect();
  if (code < 0) {
    session_.Reset();
    DeliverEnd(code);
    return;
  }
  AddRef();  // the running request; released after HANDLE_CLOSING
  SendRequest();
  Leave();
}

void HttpTask::Cancel() {
  details::ScopedReference hold(this);
  logger_->Log(L"HttpTask::Cancel", L"Cancel");
  Finish(kResultHttpCancelled);
}

// Once: from Start's early failures, the detached close or the handle's
// closing, whichever comes first.
void HttpTask::DeliverEnd(long code) {
  IHttpCallback* callback = static_cast<IHttpCallback*>(
      ::InterlockedExchangePointer(reinterpret_cast<void* volatile*>(&callback_), nullptr));
  if (callback == nullptr) return;
  callback->OnComplete(code);
  callback->Release();
}

// Called under the task's lock: hands the request to a thread-pool item.
// False when the item cannot be queued (the caller then closes it here).
bool HttpTask::CloseDetached(HINTERNET request) {
  detached_ = request;
  AddRef();  // the item's
  if (::QueueUserWorkItem(&HttpTask::RunDetachedClose, this, WT_EXECUTELONGFUNCTION)) return true;
  detached_ = nullptr;
  Release();  // never the last: the running request holds one
  return false;
}

DWORD WINAPI HttpTask::RunDetachedClose(void* self) {
  HttpTask* task = static_cast<HttpTask*>(self);
  task->DeliverEnd(task->result);
  ::InternetCloseHandle(task->detached_);
  task->Release();
  return 0;
}

long HttpTask::CreateSession() {
  if (shared_ != nullptr) return kResultOk;
  return OpenInternetSession(receive_timeout_ms_, logger_, &session_);
}

long HttpTask::Connect() { return OpenRequest(url_, &connection_, &request_); }

long HttpTask::OpenRequest(const std::wstring& url, UniqueHInternet* connection, UniqueHInternet* request) {
  HttpUrl parsed;
  DWORD error = 0;
  switch (ParseHttpUrl(url, &parsed, &error)) {
    case UrlParse::kNotAUrl:
      logger_->Log(L"HttpTask::Connect", L"InternetCrackUrlW failed: %u.", error);
      return ResultFromWin32(error);
    case UrlParse::kUnsupportedScheme:
      return kResultInvalidUrl;
    case UrlParse::kOk:
      break;
  }
  DWORD flags = parsed.secure ? kHttpFlags | INTERNET_FLAG_SECURE : kHttpFlags;
  HINTERNET session = shared_ != nullptr ? shared_->handle() : session_.Get();
  connection->Reset(::InternetConnectW(session, parsed.host.c_str(), parsed.port,
                                       parsed.user.empty() ? nullptr : parsed.user.c_str(),
                                       parsed.password.empty() ? nullptr : parsed.password.c_str(), INTERNET_SERVICE_HTTP, 0, 0));
  if (!*connection) return LogLastError(L"HttpTask::Connect", L"InternetConnectW failed: %u.");
  // The path runs to the end of the URL, so a query string is part of it.
  const wchar_t* path = parsed.path.empty() ? L"/" : parsed.path.c_str();
  request->Reset(::HttpOpenRequestW(connection->Get(), nullptr, path, nullptr, nullptr, nullptr, flags,
                                    reinterpret_cast<DWORD_PTR>(this)));
  if (!*request) {
    long code = LogLastError(L"HttpTask::Connect", L"HttpOpenRequestW failed: %u.");
    connection->Reset();
    return code;
  }
  // Windows hands the session's timeouts down to its requests; Wine does not,
  // and a stalled response would then wait forever. The same values again.
  SetTransferTimeouts(request->Get(), receive_timeout_ms_);
  ::InternetSetStatusCallbackA(request->Get(), &HttpTask::StatusCallback);
  return kResultOk;
}

void HttpTask::SendRequest() {
  ::HttpAddRequestHeadersA(request_.Get(), kFixedHeaders, static_cast<DWORD>(sizeof(kFixedHeaders) - 1),
                           HTTP_ADDREQ_FLAG_ADD | HTTP_ADDREQ_FLAG_REPLACE);
  if (range_.size != 0) {
    SetRange();
    if (!range_.etag.empty()) SetIfRange();
  }
  pending_ = Pending::kSend;
  if (::HttpSendRequestA(request_.Get(), nullptr, 0, nullptr, 0)) {
    pending_ = Pending::kNothing;
    AfterSend();
    return;
  }
  DWORD error = ::GetLastError();
  if (error == ERROR_IO_PENDING) return;
  pending_ = Pending::kNothing;
  FinishWithWin32Error(logger_, L"HttpTask::SendRequest", L"HttpSendRequestA failed: %u.", error);
}

void HttpTask::SetRange() {
  std::string header = details::RangeHeader(range_.offset, range_.size);
  ::HttpAddRequestHeadersA(request_.Get(), header.c_str(), static_cast<DWORD>(header.size()),
                           HTTP_ADDREQ_FLAG_ADD | HTTP_ADDREQ_FLAG_REPLACE);
  logger_->Log(L"HttpTask::SetRange", L"%S", header.c_str());
}

void HttpTask::SetIfRange() {
  std::string header = "If-Range: " + range_.etag;
  ::HttpAddRequestHeadersA(request_.Get(), header.c_str(), static_cast<DWORD>(header.size()),
                           HTTP_ADDREQ_FLAG_ADD | HTTP_ADDREQ_FLAG_REPLACE);
  logger_->Log(L"HttpTask::SetIfRange", L"%S", header.c_str());
}

void HttpTask::AfterSend() {
  if (IsRedirectStatus(GetStatusCode()) && !GetHeader(HTTP_QUERY_LOCATION).empty()) {
    FollowRedirect();
    return;
  }
  ProcessHeader();
  QueryAvailable();
}

// Opens the hop's request before letting go of the current one: a failure
// then still has a request to close, and its closing delivers the end.
void HttpTask::FollowRedirect() {
  const wchar_t* kContext = L"HttpTask::FollowRedirect";
  if (IsFinishing()) return;
  std::string location = GetHeader(HTTP_QUERY_LOCATION);
  if (redirects_ >= kMaxRedirects) {
    logger_->Log(kContext, L"More than %d redirects; the last to %S.", kMaxRedirects, location.c_str());
    Finish(kResultRedirectFailed);
    return;
  }
  std::wstring relative(location.begin(), location.end());
  wchar_t combined[INTERNET_MAX_URL_LENGTH];
  DWORD length = INTERNET_MAX_URL_LENGTH;
  if (location.size() >= INTERNET_MAX_URL_LENGTH ||
      !::InternetCombineUrlW(url_.c_str(), relative.c_str(), combined, &length, ICU_NO_ENCODE)) {
    logger_->Log(kContext, L"Redirect to %S refused: not a URL.", location.c_str());
    Finish(kResultRedirectFailed);
    return;
  }
  std::wstring next(combined, length);
  if (IsSecurityDowngrade(url_, next)) {
    logger_->Log(kContext, L"Redirect from %s to %s refused: it leaves TLS.", url_.c_str(), next.c_str());
    Finish(kResultRedirectFailed);
    return;
  }
  UniqueHInternet connection;
  UniqueHInternet request;
  long code = OpenRequest(next, &connection, &request);
  if (code < 0) {
    Finish(code);
    return;
  }
  ++redirects_;
  logger_->Log(kContext, L"Redirect %d to %s.", redirects_, next.c_str());
  url_ = next;
  // The old request's closing is no end of this task: it reports nothing.
  ::InternetSetStatusCallbackA(request_.Get(), nullptr);
  request_ = std::move(request);
  connection_ = std::move(connection);
  SendRequest();
}

int HttpTask::GetStatusCode() {
  DWORD status = static_cast<DWORD>(-1);
  DWORD size = sizeof(status);
  if (!::HttpQueryInfoA(request_.Get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size,
                        nullptr)) {
    logger_->Log(L"HttpTask::GetStatusCode", L"HttpQueryInfoA failed %u.", ::GetLastError());
    return -1;
  }
  return static_cast<int>(status);
}

std::string HttpTask::GetHeader(DWORD level) {
  DWORD size = 0;
  char* text = nullptr;
  std::string value;
  for (;;) {
    if (::HttpQueryInfoA(request_.Get(), level, text, &size, nullptr)) {
      value.assign(text != nullptr ? text : "", text != nullptr ? size : 0);
      break;
    }
    DWORD error = ::GetLastError();
    if (error == ERROR_INSUFFICIENT_BUFFER) {
      free(text);
      text = static_cast<char*>(malloc(size));
      if (text == nullptr) {
        logger_->Log(L"HttpTask::GetHeader", L"malloc(%u) failed.", size);
        break;
      }
      continue;
    }
    if (error != ERROR_HTTP_HEADER_NOT_FOUND) {
      logger_->Log(L"HttpTask::GetHeader", L"HttpQueryInfoA failed: %u", error);
    }
    break;
  }
  free(text);
  return value;
}

void HttpTask::GetContentRange(HttpHeader* header) {
  std::string text = GetHeader(HTTP_QUERY_CONTENT_RANGE);
  header->offset = 0;
  header->length = 0;
  header->total = -1;
  if (text.empty()) return;
  if (!details::ParseContentRange(text, &header->offset, &header->length, &header->total)) {
    logger_->Log(L"HttpTask::GetContentRange", L"Unknown content range %S.", text.c_str());
    header->offset = 0;
    header->length = 0;
    header->total = -1;
  }
}

int64 HttpTask::GetContentLength() {
  int64 length = -1;
  DWORD size = sizeof(length);
  if (::HttpQueryInfoA(request_.Get(), HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER64, &length, &size,
                       nullptr)) {
    return length;
  }
  // Wine answers the 64-bit query with ERROR_HTTP_HEADER_NOT_FOUND even when
  // the header is there; its text form works, so read that instead.
  return details::ParseContentLength(GetHeader(HTTP_QUERY_CONTENT_LENGTH));
}

void HttpTask::ProcessHeader() {
  HttpHeader header;
  header.statusCode = GetStatusCode();
  header.etag = ChooseValidator(GetHeader(HTTP_QUERY_ETAG), GetHeader(HTTP_QUERY_LAST_MODIFIED));
  header.content_type = GetHeader(HTTP_QUERY_CONTENT_TYPE);
  GetContentRange(&header);
  if (header.total < 0) {
    header.total = GetContentLength();
    if (header.total > 0) header.length = header.total;
  }
  logger_->Log(L"HttpTask::ProcessHeader", L"%d (OFFSET:%lld SIZE:%lld TOTAL:%lld ETAG:%S).", header.statusCode,
               header.offset, header.length, header.total, header.etag.c_str());
  callback_->OnHttpHeader(header);
}

void HttpTask::QueryAvailable() {
  for (;;) {
    // A layer above may have cancelled from inside OnHttpHeader or OnData: no
    // chunk is read or delivered after that.
    if (IsFinishing()) return;
    pending_ = Pending::kAvailable;
    if (!::InternetQueryDataAvailable(request_.Get(), &available_, 0, 0)) {
      DWORD error = ::GetLastError();
      if (error == ERROR_IO_PENDING) return;
      pending_ = Pending::kNothing;
      FinishWithWin32Error(logger_, L"HttpTask::QueryAvailable", L"InternetQueryDataAvailable failed: %u.", error);
      return;
    }
    pending_ = Pending::kNothing;
    if (!ProcessData()) return;
  }
}

void HttpTask::AfterAvailable() {
  if (ProcessData()) QueryAvailable();
}

// Reads what is waiting and, while the rate allows, more: WinINet reports at
// most what its own small buffer holds (8 KiB under Wine), and a read per
// report would cost a call, a callback and a write per 8 KiB.
bool HttpTask::ProcessData() {
  if (available_ == 0) {
    logger_->Log(L"HttpTask::ProcessData", L"Complete.");
    Finish(kResultOk);
    return false;
  }
  size_t ask = ReadRequestSize(read_size_, available_);
  if (buffer_.capacity() < ask && !buffer_.SetSize(ask)) {
    logger_->Log(L"HttpTask::ProcessData", L"Buffer::SetSize(%u) failed.", static_cast<unsigned>(ask));
    Finish(kResultOutOfMemory);
    return false;
  }
  asked_ = static_cast<DWORD>(ask);
  read_ = 0;
  read_started_ = MicrosNow();
  pending_ = Pending::kRead;
  if (!::InternetReadFile(request_.Get(), buffer_.data(), asked_, &read_)) {
    DWORD error = ::GetLastError();
    if (error == ERROR_IO_PENDING) return false;  // AfterRead goes on
    pending_ = Pending::kNothing;
    return FinishWithWin32Error(logger_, L"HttpTask::ProcessData", L"InternetReadFile failed: %u.", error);
  }
  pending_ = Pending::kNothing;
  return DeliverRead();
}

void HttpTask::AfterRead() {
  if (DeliverRead()) QueryAvailable();
}

bool HttpTask::DeliverRead() {
  // Only a read that had to wait for the network tells the rate.
  if (asked_ > available_) read_size_ = NextReadSize(asked_, read_, MicrosNow() - read_started_);
  // What was reported waiting must come; more may, up to what was asked.
  if (read_ < available_ || read_ > asked_) {
    logger_->Log(L"HttpTask::ProcessData", L"InternetReadFile doesn't read all data.");
    Finish(kResultShortRead);
    return false;
  }
  buffer_.SetLength(read_);
  callback_->OnData(buffer_);
  return true;
}

void CALLBACK HttpTask::StatusCallback(HINTERNET, DWORD_PTR context, DWORD status, void* info, DWORD) {
  reinterpret_cast<HttpTask*>(context)->OnStatus(status, info);
}

void HttpTask::OnStatus(DWORD status, void* info) {
  const wchar_t* kContext = L"HttpTask::InternetStatusCallback";
  switch (status) {
    case INTERNET_STATUS_RESOLVING_NAME:
      logger_->Log(kContext, L"INTERNET_STATUS_RESOLVING_NAME %S", static_cast<const char*>(info));
      break;
    case INTERNET_STATUS_NAME_RESOLVED:
      logger_->Log(kContext, L"INTERNET_STATUS_NAME_RESOLVED %S", static_cast<const char*>(info));
      break;
    case INTERNET_STATUS_CONNECTING_TO_SERVER:
      logger_->Log(kContext, L"INTERNET_STATUS_CONNECTING_TO_SERVER %S", static_cast<const char*>(info));
      break;
    case INTERNET_STATUS_CONNECTED_TO_SERVER:
      logger_->Log(kContext, L"INTERNET_STATUS_CONNECTED_TO_SERVER %S", static_cast<const char*>(info));
      break;
    case INTERNET_STATUS_HANDLE_CLOSING:
      OnHandleClosing();
      break;
    case INTERNET_STATUS_REQUEST_COMPLETE:
      OnRequestComplete(static_cast<const INTERNET_ASYNC_RESULT*>(info));
      break;
    case INTERNET_STATUS_REDIRECT:
      logger_->Log(kContext, L"INTERNET_STATUS_REDIRECT %S", static_cast<const char*>(info));
      break;
    case INTERNET_STATUS_INTERMEDIATE_RESPONSE:
      logger_->Log(kContext, L"INTERNET_STATUS_INTERMEDIATE_RESPONSE");
      break;
    default:
      break;
  }
}

void HttpTask::OnRequestComplete(const INTERNET_ASYNC_RESULT* async) {
  // A continuation may close the request (an abort on Leave) and so drop the
  // last reference from inside; keep the task alive until this returns.
  details::ScopedReference hold(this);
  if (async->dwResult != 0) {
    if (Enter()) {
      Continue();
      Leave();
    }
    return;
  }
  // Closing the request is how a cancel ends a pending call: not a failure.
  // Nor is anything after the end went up (a detached close): the task says
  // nothing more then.
  if (async->dwError == ERROR_INTERNET_OPERATION_CANCELLED || callback_ == nullptr) return;
  logger_->Log(L"HttpTask::InternetStatusCallback", L"INTERNET_STATUS_REQUEST_COMPLETE failed: %u.",
               async->dwError);
  DeliverPartialRead();
  Finish(ResultFromWin32(static_cast<long>(async->dwError)));
}

// A read that failed part way (Wine's receive timeout on a connection gone
// idle) may have received bytes: they are the body's and go up before the
// failure, so that a resume asks only for what is missing.
void HttpTask::DeliverPartialRead() {
  if (pending_ != Pending::kRead || read_ == 0 || read_ > asked_ || !Enter()) return;
  pending_ = Pending::kNothing;
  buffer_.SetLength(read_);
  callback_->OnData(buffer_);
  Leave();
}

// The step that was pending goes on; a completion with nothing pending would
// be WinINet's fault, and ends the task rather than run a step twice.
void HttpTask::Continue() {
  Pending step = pending_;
  pending_ = Pending::kNothing;
  switch (step) {
    case Pending::kSend:
      AfterSend();
      return;
    case Pending::kAvailable:
      AfterAvailable();
      return;
    case Pending::kRead:
      AfterRead();
      return;
    case Pending::kNothing:
      break;
  }
  logger_->Log(L"HttpTask::InternetStatusCallback", L"A completion with nothing pending.");
  Finish(kResultFail);
}

// Logs the calling thread's last error and answers it as a result.
long HttpTask::LogLastError(const wchar_t* context, const wchar_t* format) {
  DWORD error = ::GetLastError();
  logger_->Log(context, format, error);
  return ResultFromWin32(static_cast<long>(error));
}

void HttpTask::OnHandleClosing() {
  connection_.Reset();
  session_.Reset();
  DeliverEnd(result);
  Release();
}

}  // namespace

ITask* CreateHttpTask(const std::wstring& url, const HttpRange& range, IHttpCallback* callback, ILogger* logger,
                      DWORD receive_timeout_ms, SharedSession* session) {
  if (callback == nullptr || logger == nullptr) return nullptr;
  return details::Object<HttpTask>::Create(url, range, callback, logger, receive_timeout_ms, session);
}

}  // namespace stubframework::downloader
