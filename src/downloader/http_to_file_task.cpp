// HttpToFileTask's flow: one HttpTask at a time, each for the bytes still
// missing.
//
//   Start ------------------------------------------> StartHttp: an HttpTask
//                                                      for [offset, offset + size)
//   OnHttpHeader --206 for exactly that range, or 200 with the whole file
//                  (from byte 0 again when a range was ignored, once)--> accepted
//                --anything else------------------> Finish(bad format)
//   OnData       --accepted------------------------> written, OnData(offset, n)
//   OnComplete   --all written, or a failure--------> Finish; the end
//                --short, the response ended cleanly
//                  or went idle (a receive timeout, a dropped connection)
//                  after bringing bytes, and the stall budget not spent--> StartHttp
//                --short with no byte in the response, or a whole body
//                  that broke off----------------------> Finish(short read)
//   Cancel / Finish --> Abort cancels the HttpTask, whose OnComplete ends this
//
// Threads: handlers run on the HttpTask's threads (http_task.cpp), between
// Enter and Leave where they start work; Cancel may come from any thread.
#include "downloader/http_to_file_task.h"

#include "downloader/buffer.h"
#include "downloader/http_task.h"
#include "downloader/idle_body.h"
#include "downloader/object.h"
#include "downloader/result_codes.h"
#include "downloader/sub_task_slot.h"
#include "downloader/task_lock.h"

namespace stubframework::downloader {
namespace {

class HttpToFileTask : public ITask, public details::TaskLock<HttpToFileTask, long> {
 public:
  // One per HttpTask; forwards to the owner, which outlives every HttpTask it
  // starts (it holds a reference on the current one).
  class HttpCallback : public IHttpCallback {
   public:
    explicit HttpCallback(HttpToFileTask* owner) : owner_(owner) {}
    void OnComplete(long hr) override { owner_->OnComplete(hr); }
    void OnHttpHeader(const HttpHeader& header) override { owner_->OnHttpHeader(header); }
    void OnData(const Buffer& buffer) override { owner_->OnData(buffer); }

   private:
    HttpToFileTask* owner_;
  };

  HttpToFileTask(const std::wstring& url, HANDLE file, int64 offset, int64 size, IHttpToFileCallback* callback,
                 ILogger* logger, const std::string& validator, const TransferTimeouts& timeouts)
      : url_(url), file_(file), offset_(offset), size_(size), callback_(callback), etag_(validator),
        timeouts_(timeouts), stalls_(timeouts.stall_limit_ms), logger_(logger) {
    callback_->AddRef();
    logger_->AddRef();
  }

  ~HttpToFileTask() {
    if (callback_ != nullptr) callback_->Release();
    logger_->Release();
  }

  void Start() override;
  void Cancel() override;
  void Abort() { transfer_.Cancel(); }

  long result = 0;

 private:
  bool StartHttp();
  void OnHttpHeader(const HttpHeader& header);
  void OnHttpStatusOK(int64 length, const std::string& etag);
  void KeepValidator(const std::string& etag);
  void OnHttpStatusPartialContent(int64 offset, int64 length, int64 total);
  void OnData(const Buffer& chunk);
  void OnComplete(long hr);
  long NextAfterShortBody(long hr);
  void DeliverEnd();
  void ReleaseTransfer() { transfer_.Reset(); }

  std::wstring url_;
  HANDLE file_;
  int64 offset_;
  int64 size_;
  IHttpToFileCallback* callback_;
  details::SubTaskSlot transfer_;
  std::string etag_;
  bool accepted_ = false;  // the current response's header passed the checks
  bool whole_body_ = false;  // a 200 with the whole file was taken: no second one
  int64 written_by_request_ = 0;  // bytes the current response put in the file
  TransferTimeouts timeouts_;
  StallBudget stalls_;
  ILogger* logger_;
};

void HttpToFileTask::Start() {
  // The end may come synchronously, and its callback may drop the caller's
  // reference: keep this object alive until Start returns.
  details::ScopedReference hold(this);
  Begin();
  logger_->Log(L"HttpToFileTask::Start", L"Start download %s (OFFSET:%lld SIZE:%lld) to file.", url_.c_str(),
               offset_, size_);
  AddRef();
  stalls_.MarkProgress();
  if (StartHttp()) {
    Leave();
    return;
  }
  Finish(kResultOutOfMemory);
  DeliverEnd();
}

void HttpToFileTask::Cancel() {
  details::ScopedReference hold(this);
  logger_->Log(L"HttpToFileTask::Cancel", L"Cancel.");
  Finish(kResultHttpCancelled);
}

bool HttpToFileTask::StartHttp() {
  HttpCallback* callback = details::Object<HttpCallback>::Create(this);
  if (callback == nullptr) {
    logger_->Log(L"HttpToFileTask::StartHttp", L"Create HttpCallback failed.");
    return false;
  }
  HttpRange range;
  range.offset = offset_;
  range.size = size_;
  range.etag = etag_;
  accepted_ = false;
  written_by_request_ = 0;
  ITask* transfer = CreateHttpTask(url_, range, callback, logger_, timeouts_.receive_ms);
  callback->Release();
  if (transfer == nullptr) {
    logger_->Log(L"HttpToFileTask::StartHttp", L"Create HttpTask failed.");
    return false;
  }
  transfer_.Set(transfer);
  transfer->Start();
  return true;
}

void HttpToFileTask::OnHttpHeader(const HttpHeader& header) {
  if (header.statusCode == 200) {
    OnHttpStatusOK(header.total, header.etag);
  } else if (header.statusCode == 206) {
    OnHttpStatusPartialContent(header.offset, header.length, header.total);
    if (accepted_) KeepValidator(header.etag);
  } else {
    logger_->Log(L"HttpToFileTask::OnHttpHeader", L"Unexpected HTTP status code %d.", header.statusCode);
    Finish(kResultBadFormat);
  }
}

void HttpToFileTask::OnHttpStatusOK(int64 length, const std::string& etag) {
  if (offset_ == 0 && length == size_) {
    KeepValidator(etag);
    accepted_ = true;
    whole_body_ = true;
    return;
  }
  // A server that ignores ranges sends the whole file: the file starts again
  // at byte 0 on this same answer rather than refusing it and asking again
  // for what it will never send. Once per task: never a second whole body.
  if (!whole_body_ && offset_ > 0 && length == offset_ + size_) {
    LARGE_INTEGER start = {};
    if (!::SetFilePointerEx(file_, start, nullptr, FILE_BEGIN)) {
      FinishWithLastError(logger_, L"HttpToFileTask::OnHttpStatusOK", L"SetFilePointerEx failed %u.");
      return;
    }
    logger_->Log(L"HttpToFileTask::OnHttpStatusOK",
                 L"The server ignored the range from %lld: the whole file again from byte 0.", offset_);
    offset_ = 0;
    size_ = length;
    KeepValidator(etag);
    accepted_ = true;
    whole_body_ = true;
    return;
  }
  logger_->Log(L"HttpToFileTask::OnHttpStatusOK", L"Unexpected content length %lld/(OFFSET:%lld SIZE:%lld).", length,
               offset_, size_);
  Finish(kResultBadFormat);
}

void HttpToFileTask::KeepValidator(const std::string& etag) {
  if (etag == etag_) return;
  etag_ = etag;
  if (!etag.empty()) callback_->OnValidator(etag);
}

void HttpToFileTask::OnHttpStatusPartialContent(int64 offset, int64 length, int64 total) {
  if (offset == offset_ && length == size_) {
    accepted_ = true;
    return;
  }
  logger_->Log(L"HttpToFileTask::OnHttpStatusPartialContent",
               L"Unexpected content range (OFFSET:%lld SIZE:%lld TOTAL:%lld)/(OFFSET:%lld SIZE:%lld).", offset, length,
               total, offset_, size_);
  Finish(kResultBadFormat);
}

void HttpToFileTask::OnData(const Buffer& chunk) {
  // Bytes of a refused response, or after a failure or cancel, never reach
  // the file.
  if (!accepted_ || IsFinishing()) return;
  int64 chunk_size = static_cast<int64>(chunk.size());
  if (chunk_size > size_) {
    logger_->Log(L"HttpToFileTask::OnData", L"Data large than expected %lld", chunk_size - size_);
    Finish(kResultBadFormat);
    return;
  }
  // A write that stops short without an error (a volume filling up part way
  // through a large chunk) is followed by one for the rest, which then says
  // why; one that still reports no error is taken as a full disk.
  DWORD written = 0;
  DWORD error = ERROR_SUCCESS;
  while (written < chunk.size()) {
    DWORD done = 0;
    ::SetLastError(ERROR_SUCCESS);
    if (!::WriteFile(file_, chunk.data() + written, static_cast<DWORD>(chunk.size() - written), &done, nullptr)) {
      written += done;
      error = ::GetLastError();
      break;
    }
    written += done;
    if (done == 0) {
      error = ::GetLastError();
      if (error == ERROR_SUCCESS) error = ERROR_DISK_FULL;
      break;
    }
  }
  if (written != chunk.size()) {
    logger_->Log(L"HttpToFileTask::OnData", L"WriteFile failed %u.", error);
    Finish(ResultFromWin32(error != ERROR_SUCCESS ? static_cast<long>(error) : ERROR_DISK_FULL));
  }
  if (written > 0) stalls_.MarkProgress();
  callback_->OnData(offset_, written);
  offset_ += written;
  size_ -= written;
  written_by_request_ += written;
}

void HttpToFileTask::OnComplete(long hr) {
  details::ScopedReference hold(this);
  if (Enter()) {
    if (size_ != 0 && (hr >= 0 || (accepted_ && IsBrokenConnection(hr)))) {
      hr = NextAfterShortBody(hr);
      if (hr >= 0) {
        ReleaseTransfer();
        if (StartHttp()) {
          Leave();
          return;
        }
        hr = kResultOutOfMemory;
      }
    }
    Finish(hr);
  }
  DeliverEnd();
}

// A response ended short of its length: 0 when the rest is to be asked for,
// else the result that ends the task.
long HttpToFileTask::NextAfterShortBody(long hr) {
  const wchar_t* kContext = L"HttpToFileTask::OnComplete";
  bool idle = hr < 0;
  logger_->Log(kContext, L"Data not complete %lld needed.", size_);
  if (written_by_request_ == 0) {
    // A server that ends every response before its body would otherwise
    // be asked again without pause and without end.
    logger_->Log(kContext, L"No data in the response.");
    return idle ? hr : kResultShortRead;
  }
  if (whole_body_) {
    // It answered a range with the whole file: asked for the rest, it
    // would send all of it again. The caller proves what came first.
    logger_->Log(kContext, L"A whole body broke off; not asked again in this task.");
    return idle ? hr : kResultShortRead;
  }
  if (!idle) return kResultOk;
  // The silence that ended this response counts against the budget of the
  // whole transfer: a server that keeps going idle ends it in bounded time.
  if (!stalls_.Spend()) {
    logger_->Log(kContext, L"No new byte for %lld ms in all; the transfer ends (0x%08X).", stalls_.spent_ms(),
                 static_cast<unsigned long>(hr));
    return hr;
  }
  logger_->Log(kContext, L"The connection went idle (0x%08X) after %lld bytes; asking for the rest.",
               static_cast<unsigned long>(hr), written_by_request_);
  return kResultOk;
}

void HttpToFileTask::DeliverEnd() {
  logger_->Log(L"HttpToFileTask::OnComplete", L"Complete.");
  ReleaseTransfer();
  IHttpToFileCallback* callback = callback_;
  callback_ = nullptr;
  callback->OnComplete(result);
  callback->Release();
  Release();
}

}  // namespace

ITask* CreateHttpToFileTask(const std::wstring& url, HANDLE file, int64 offset, int64 size,
                            IHttpToFileCallback* callback, ILogger* logger, const std::string& validator,
                            const TransferTimeouts& timeouts) {
  if (callback == nullptr || logger == nullptr || file == nullptr || file == INVALID_HANDLE_VALUE) return nullptr;
  return details::Object<HttpToFileTask>::Create(url, file, offset, size, callback, logger, validator, timeouts);
}

}  // namespace stubframework::downloader
