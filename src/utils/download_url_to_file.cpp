#include "utils/download_url_to_file.h"

#include <wininet.h>

#include <climits>

#include "base/critical_section.h"
#include "base/property_bag.h"
#include "base/unique_handle.h"
#include "base/unredirected_folder.h"
#include "base/wide_format.h"
#include "downloader/buffer.h"
#include "downloader/download_logger.h"
#include "downloader/final_results.h"
#include "downloader/http_task.h"
#include "downloader/object.h"
#include "downloader/result_codes.h"
#include "utils/moniker_response.h"

namespace stubframework::utils {
namespace {

// What the engine's callbacks (on WinINet's threads) share with the thread
// that waits for the download. The callbacks judge the response and write the
// accepted body to the file; the waiting thread reads a snapshot after each
// wake and decides stops and timeouts. Every member is read and written
// under `lock_`; the first decision (a refusal, a write error, a stop, a
// timeout) is final, and nothing is written after it or after Detach().
class PlainReceiver : public downloader::IHttpCallback {
 public:
  PlainReceiver(HANDLE file, const std::wstring& url, bool unchecked)
      : file_(file), url_(url), unchecked_(unchecked), event_(::CreateEventW(nullptr, FALSE, FALSE, nullptr)),
        last_event_(::GetTickCount()) {}
  bool Constructed() const { return static_cast<bool>(event_); }
  HANDLE event() const { return event_.Get(); }

  struct State {
    bool accepted = false;
    int64_t announced = -1;  // Content-Length of the accepted response
    int64_t written = 0;
    bool ended = false;      // the engine delivered its end
    long end = 0;
    HRESULT decided = E_PENDING;
    DWORD idle_ms = 0;
  };

  State Snapshot() {
    base::ScopedLock hold(lock_);
    State state;
    state.accepted = accepted_;
    state.announced = announced_;
    state.written = written_;
    state.ended = ended_;
    state.end = end_;
    state.decided = decided_;
    state.idle_ms = ::GetTickCount() - last_event_;
    return state;
  }

  void Decide(HRESULT hr) {
    base::ScopedLock hold(lock_);
    if (decided_ == E_PENDING) decided_ = hr;
  }

  // The caller's file goes away; later engine events find nothing to write to.
  void Detach() {
    base::ScopedLock hold(lock_);
    file_ = nullptr;
  }

  void OnHttpHeader(const downloader::HttpHeader& header) override {
    base::ScopedLock hold(lock_);
    Touch();
    if (decided_ != E_PENDING || file_ == nullptr || accepted_) return;
    MonikerResponse response;
    response.status = header.statusCode;
    response.length = header.total;
    response.content_type = header.content_type;
    HRESULT verdict = JudgeMonikerResponse(response, url_, unchecked_);
    if (FAILED(verdict)) {
      decided_ = verdict;
      return;
    }
    accepted_ = true;
    announced_ = response.length;
    if (announced_ > 0) {
      // Size the file once, up front; the writes then never extend it.
      LARGE_INTEGER at;
      at.QuadPart = announced_;
      if (::SetFilePointerEx(file_, at, nullptr, FILE_BEGIN)) ::SetEndOfFile(file_);
      at.QuadPart = 0;
      ::SetFilePointerEx(file_, at, nullptr, FILE_BEGIN);
    }
  }

  void OnData(const downloader::Buffer& chunk) override {
    base::ScopedLock hold(lock_);
    Touch();
    if (decided_ != E_PENDING || file_ == nullptr || !accepted_) return;
    const int64_t size = static_cast<int64_t>(chunk.size());
    if (announced_ >= 0 && written_ + size > announced_) {
      decided_ = INET_E_DOWNLOAD_FAILURE;  // more than the response announced
      return;
    }
    // A write that stops short without an error (a volume filling up) is
    // followed by one for the rest, which then says why.
    DWORD done = 0;
    while (done < chunk.size()) {
      DWORD now = 0;
      ::SetLastError(ERROR_SUCCESS);
      if (!::WriteFile(file_, chunk.data() + done, static_cast<DWORD>(chunk.size() - done), &now, nullptr) ||
          now == 0) {
        DWORD error = ::GetLastError();
        decided_ = HRESULT_FROM_WIN32(error != ERROR_SUCCESS ? error : ERROR_DISK_FULL);
        return;
      }
      done += now;
    }
    written_ += size;
  }

  void OnComplete(long hr) override {
    base::ScopedLock hold(lock_);
    Touch();
    ended_ = true;
    end_ = hr;
  }

 private:
  // Every event wakes the waiting thread.
  void Touch() {
    last_event_ = ::GetTickCount();
    ::SetEvent(event_.Get());
  }

  base::CriticalSection lock_;
  HANDLE file_;
  std::wstring url_;
  bool unchecked_;
  base::UniqueHandle event_;  // auto-reset
  DWORD last_event_;
  bool accepted_ = false;
  int64_t announced_ = -1;
  int64_t written_ = 0;
  bool ended_ = false;
  long end_ = 0;
  HRESULT decided_ = E_PENDING;
};

// After a stop or a timeout the task was cancelled; its end is not waited for
// longer than this (under Wine a read that waits for data ends only when data
// comes or WinINet's own timeout fires). The task then ends on its own; it
// holds the receiver, which writes nothing more.
constexpr DWORD kAbortGraceMs = 500;

// Dispatches what is queued; false on WM_QUIT, which is posted again for the
// thread's own loop.
bool PumpMessages() {
  MSG message;
  while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {
      ::PostQuitMessage(static_cast<int>(message.wParam));
      return false;
    }
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
  return true;
}

// A binding's byte counts are 32-bit.
ULONG BindingCount(int64_t count) { return count > ULONG_MAX ? ULONG_MAX : count < 0 ? 0 : static_cast<ULONG>(count); }

// Forwards the progress of an accepted response to the application's
// callback, on this thread; E_ABORT from it (a size query, a stop) ends the
// download.
class ProgressForwarder {
 public:
  explicit ProgressForwarder(IBindStatusCallback* inner) : inner_(inner) {}

  void Forward(const PlainReceiver::State& state, PlainReceiver* receiver) {
    if (inner_ == nullptr || !state.accepted || state.decided != E_PENDING) return;
    const ULONG max = BindingCount(state.announced);
    HRESULT hr = S_OK;
    if (!begun_) {
      begun_ = true;
      hr = inner_->OnProgress(0, max, BINDSTATUS_BEGINDOWNLOADDATA, nullptr);
    }
    if (hr != E_ABORT && state.written > reported_) {
      reported_ = state.written;
      hr = inner_->OnProgress(BindingCount(state.written), max, BINDSTATUS_DOWNLOADINGDATA, nullptr);
    }
    if (hr == E_ABORT) receiver->Decide(E_ABORT);
  }

  void End(const PlainReceiver::State& state) {
    if (inner_ == nullptr) return;
    inner_->OnProgress(BindingCount(state.written), BindingCount(state.announced), BINDSTATUS_ENDDOWNLOADDATA,
                       nullptr);
  }

 private:
  IBindStatusCallback* inner_;
  bool begun_ = false;
  int64_t reported_ = 0;
};

// Waits for the task's end, forwarding progress, and ends it on a stop, a
// quit message or a silence of the idle timeout.
HRESULT Follow(downloader::ITask* task, PlainReceiver* receiver, IBindStatusCallback* inner,
               const UrlDownloadOptions& options) {
  ProgressForwarder progress(inner);
  HANDLE event = receiver->event();
  PlainReceiver::State state;
  for (;;) {
    ::MsgWaitForMultipleObjects(1, &event, FALSE, kStopPollMs, QS_ALLINPUT);
    if (!PumpMessages()) receiver->Decide(E_ABORT);
    progress.Forward(receiver->Snapshot(), receiver);
    state = receiver->Snapshot();
    if (state.ended || state.decided != E_PENDING) break;
    if (options.stop && options.stop()) {
      receiver->Decide(E_ABORT);
      break;
    }
    if (state.idle_ms >= options.idle_timeout_ms) {
      receiver->Decide(INET_E_CONNECTION_TIMEOUT);
      break;
    }
  }
  state = receiver->Snapshot();
  if (!state.ended) {
    task->Cancel();
    const DWORD begun = ::GetTickCount();
    while (!receiver->Snapshot().ended && ::GetTickCount() - begun < kAbortGraceMs) {
      ::MsgWaitForMultipleObjects(1, &event, FALSE, kAbortGraceMs, QS_ALLINPUT);
      if (!PumpMessages()) break;
    }
    state = receiver->Snapshot();
  }
  if (state.decided != E_PENDING) return state.decided;
  HRESULT result = PlainTransferResult(state.end, state.accepted, state.announced, state.written);
  if (result == S_OK) progress.End(state);
  return result;
}

// A new file beside the target, made by this process: CREATE_NEW follows no
// link another user placed there, and the target stays as it was until the
// download is whole.
base::UniqueHandle CreatePartialFile(const std::wstring& path, std::wstring* partial) {
  for (DWORD attempt = 0; attempt < 4; ++attempt) {
    // The runtime's formatting (base::Format): swprintf would bring in the C99 wide printf.
    *partial = path + base::Format(L".%lu-%lu.partial", ::GetCurrentProcessId(), ::GetTickCount() + attempt);
    base::UniqueHandle file(::CreateFileW(partial->c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                          FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (file || ::GetLastError() != ERROR_FILE_EXISTS) return file;
  }
  return base::UniqueHandle();
}

// Puts a whole download in place of the target (the link itself, were the
// target a link: a rename never writes through one) or removes what failed.
HRESULT Conclude(HRESULT result, const std::wstring& partial, const std::wstring& path) {
  if (result == S_OK && ::MoveFileExW(partial.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING)) return S_OK;
  if (result == S_OK) result = HRESULT_FROM_WIN32(::GetLastError());
  ::DeleteFileW(partial.c_str());
  return result;
}

struct EngineFailure {
  long end;
  HRESULT result;
};

// The engine's failures before a response, as the URL moniker reports them;
// anything else is INET_E_DOWNLOAD_FAILURE.
constexpr EngineFailure kEngineFailures[] = {
    {static_cast<long>(0x80070000 | ERROR_INTERNET_NAME_NOT_RESOLVED), INET_E_RESOURCE_NOT_FOUND},
    {static_cast<long>(0x80070000 | ERROR_INTERNET_CANNOT_CONNECT), INET_E_RESOURCE_NOT_FOUND},
    {static_cast<long>(0x80070000 | ERROR_INTERNET_TIMEOUT), INET_E_CONNECTION_TIMEOUT},
    {downloader::kResultRedirectFailed, INET_E_REDIRECT_FAILED},
    {downloader::kResultOutOfMemory, E_OUTOFMEMORY},
};

}  // namespace

HRESULT DownloadCallback::QueryInterface(REFIID riid, void** out) {
  if (out == nullptr) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_IBindStatusCallback) {
    *out = static_cast<IBindStatusCallback*>(this);
    return S_OK;
  }
  *out = nullptr;
  return E_NOINTERFACE;
}

HRESULT DownloadCallback::OnProgress(ULONG progress, ULONG max, ULONG status, LPCWSTR) {
  if (status == BINDSTATUS_BEGINDOWNLOADDATA) {
    if (host_->properties != nullptr) host_->properties->SetDownloadTotal(max);
    if (host_->SizeQuery()) return E_ABORT;  // the size is all a query wants
  } else if (status == BINDSTATUS_DOWNLOADINGDATA || status == BINDSTATUS_ENDDOWNLOADDATA) {
    data_seen_ = true;
    if (progress > received_) received_ = progress;
    if (host_->properties != nullptr) {
      // An answer without a length (compressed, or close-delimited) has its
      // size known only at its end: the last report says it.
      if (status == BINDSTATUS_ENDDOWNLOADDATA && max < progress) host_->properties->SetDownloadTotal(progress);
      host_->properties->SetDownloadCurrent(progress);
    }
  }
  return host_->CancelRequested() ? E_ABORT : S_OK;
}

HRESULT PlainTransferResult(long end, bool accepted, int64_t announced, int64_t written) {
  if (accepted && announced >= 0 && written < announced) return S_FALSE;
  if (end >= 0) return accepted ? S_OK : INET_E_DOWNLOAD_FAILURE;
  if (accepted) return INET_E_DOWNLOAD_FAILURE;  // a body without a length that broke off
  if (downloader::IsCertificateRefusal(end)) return downloader::kResultCertificateRefused;
  for (const EngineFailure& row : kEngineFailures) {
    if (row.end == end) return row.result;
  }
  return INET_E_DOWNLOAD_FAILURE;
}

HRESULT DownloadUrlToFile(const std::wstring& url, const std::wstring& path, IBindStatusCallback* inner,
                          const UrlDownloadOptions& options) {
  // The partial file would be created wherever a link on the way leads.
  if (!base::TargetFolderIsUnredirected(path)) return downloader::kResultTargetIsLink;
  std::wstring partial;
  base::UniqueHandle file = CreatePartialFile(path, &partial);
  if (!file) return HRESULT_FROM_WIN32(::GetLastError());
  downloader::ILogger* logger = downloader::CreateDownloadLogger(nullptr);
  auto* receiver = downloader::details::Object<PlainReceiver>::Create(file.Get(), url, options.unchecked_content);
  downloader::ITask* task = nullptr;
  if (logger != nullptr && receiver != nullptr) task = downloader::CreateHttpTask(url, downloader::HttpRange(), receiver, logger);
  HRESULT result = E_OUTOFMEMORY;
  if (task != nullptr) {
    task->Start();
    result = Follow(task, receiver, inner, options);
    receiver->Detach();
    task->Release();
  }
  if (receiver != nullptr) receiver->Release();
  if (logger != nullptr) logger->Release();
  file.Reset();
  return Conclude(result, partial, path);
}

}  // namespace stubframework::utils
