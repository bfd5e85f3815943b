// HttpToMemTask's flow: one HttpTask at a time for the bytes still missing.
//
//   Start -----------------------------------------> StartHttp: the whole
//                                                      resource, no range
//   OnHttpHeader --200 with a length below 2 GiB----> sized (from byte 0)
//                --206 for exactly the missing rest--> accepted
//                --anything else------------------> Finish(bad format)
//   OnData       --a head check pending--------------> head collected, then
//                  accepted (buffer sized) or Finish(bad format)
//                --else----------------------------> copied at received_
//   OnComplete   --all received, or a failure-------> Finish; the end
//                --short, with bytes in the response (ended cleanly, or
//                  gone idle while the stall budget lasts)--> StartHttp for
//                  the rest, If-Range with the 200's ETag
//                --short with no byte in it---------> Finish(short read)
//   Cancel / Finish --> Abort cancels the HttpTask, whose OnComplete ends this
//
// Threads: handlers run on the HttpTask's threads (http_task.cpp); the restart
// happens between Enter and Leave; Cancel may come from any thread.
#include "downloader/http_to_mem_task.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "downloader/buffer.h"
#include "downloader/http_task.h"
#include "downloader/idle_body.h"
#include "downloader/object.h"
#include "downloader/result_codes.h"
#include "downloader/sub_task_slot.h"
#include "downloader/task_lock.h"

namespace stubframework::downloader {
namespace {

// Buffers this large are refused: the size must fit a 32-bit length.
constexpr int64 kMaxMemoryBody = 0x7FFFFFFF;

class HttpToMemTask : public ITask, public details::TaskLock<HttpToMemTask, long> {
 public:
  // Forwards the HttpTask's calls to the owner; a plain pointer, because the
  // owner holds this object for its whole life.
  class HttpToMemHttpCallback : public IHttpCallback {
   public:
    explicit HttpToMemHttpCallback(HttpToMemTask* owner) : owner_(owner) {}
    void OnComplete(long hr) override { owner_->OnComplete(hr); }
    void OnHttpHeader(const HttpHeader& header) override { owner_->OnHttpHeader(header); }
    void OnData(const Buffer& buffer) override { owner_->OnData(buffer); }

   private:
    HttpToMemTask* owner_;
  };

  HttpToMemTask(const std::wstring& url, ITaskCallback<HttpToMemResult&&>* callback, ILogger* logger,
                const BodyHeadCheck& check, const TransferTimeouts& timeouts)
      : url_(url), callback_(callback), check_(check), head_(check.accept ? check.size : 0),
        receive_timeout_ms_(timeouts.receive_ms), stalls_(timeouts.stall_limit_ms), logger_(logger) {
    httpCallback_ = details::Object<HttpToMemHttpCallback>::Create(this);
    if (httpCallback_ == nullptr) return;  // Create answers null
    callback_->AddRef();
    logger_->AddRef();
  }
  bool Constructed() const { return httpCallback_ != nullptr; }

  ~HttpToMemTask() {
    if (httpCallback_ == nullptr) return;  // nothing was taken
    httpCallback_->Release();
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
  void OnHttpStatusPartialContent(int64 offset, int64 length, int64 total);
  void OnData(const Buffer& chunk);
  size_t TakeHead(const Buffer& chunk);
  void OnComplete(long hr);
  void DeliverEnd();
  void ReleaseTransfer() { transfer_.Reset(); }

  std::wstring url_;
  ITaskCallback<HttpToMemResult&&>* callback_;
  HttpToMemHttpCallback* httpCallback_ = nullptr;
  details::SubTaskSlot transfer_;
  std::string etag_;
  int64 received_ = 0;
  int64 expected_ = 0;  // the length the last 200 announced
  Buffer buffer_;       // expected_ bytes once allocated
  bool sized_ = false;  // a 200 has fixed the expected size
  BodyHeadCheck check_;
  std::vector<uint8> head_;  // the body's first bytes until check_ accepted them
  bool head_pending_ = false;
  int64 received_by_request_ = 0;  // body bytes the current response delivered
  DWORD receive_timeout_ms_;
  StallBudget stalls_;
  ILogger* logger_;
};

void HttpToMemTask::Start() {
  // The end may come synchronously, and its callback may drop the caller's
  // reference: keep this object alive until Start returns.
  details::ScopedReference hold(this);
  Begin();
  logger_->Log(L"HttpToMemTask::Start", L"Start download %s to memory.", url_.c_str());
  AddRef();
  stalls_.MarkProgress();
  if (StartHttp()) {
    Leave();
    return;
  }
  Finish(kResultOutOfMemory);
  DeliverEnd();
}

void HttpToMemTask::Cancel() {
  details::ScopedReference hold(this);
  logger_->Log(L"HttpToMemTask::Cancel", L"Cancel.");
  Finish(kResultHttpCancelled);
}

bool HttpToMemTask::StartHttp() {
  HttpRange range;
  if (sized_) {
    range.offset = received_;
    range.size = expected_ - received_;
    range.etag = etag_;
  }
  result = kResultOk;
  received_by_request_ = 0;
  ITask* transfer = CreateHttpTask(url_, range, httpCallback_, logger_, receive_timeout_ms_);
  if (transfer == nullptr) {
    logger_->Log(L"HttpToMemTask::StartHttp", L"Create HttpTask failed.");
    return false;
  }
  transfer_.Set(transfer);
  transfer->Start();
  return true;
}

void HttpToMemTask::OnHttpHeader(const HttpHeader& header) {
  if (header.statusCode == 200) {
    OnHttpStatusOK(header.total, header.etag);
  } else if (header.statusCode == 206) {
    OnHttpStatusPartialContent(header.offset, header.length, header.total);
  } else {
    logger_->Log(L"HttpToMemTask::OnHttpHeader", L"Unexpected HTTP status code %d.", header.statusCode);
    Finish(kResultBadFormat);
  }
}

void HttpToMemTask::OnHttpStatusOK(int64 length, const std::string& etag) {
  const wchar_t* kContext = L"HttpToMemTask::OnHttpStatusOK";
  if (length < 0) {
    logger_->Log(kContext, L"Unexpected content length %lld.", length);
    Finish(kResultBadFormat);
    return;
  }
  if (length >= kMaxMemoryBody) {
    logger_->Log(kContext, L"Buffer::SetSize(%lld) failed.", length);
    Finish(kResultOutOfMemory);
    return;
  }
  // A body that must first show its head is allocated once the head has been
  // accepted (OnData); a buffer of the right size from an earlier 200 is kept.
  head_pending_ = check_.accept && length > static_cast<int64>(check_.size);
  if (static_cast<size_t>(length) != buffer_.size() || (!sized_ && !head_pending_)) {
    if (!buffer_.SetSize(head_pending_ ? 0 : static_cast<size_t>(length))) {
      sized_ = false;
      logger_->Log(kContext, L"Buffer::SetSize(%lld) failed.", length);
      Finish(kResultOutOfMemory);
      return;
    }
  }
  sized_ = true;
  expected_ = length;
  etag_ = etag;
  received_ = 0;  // a 200 always restarts the body from its first byte
}

void HttpToMemTask::OnHttpStatusPartialContent(int64 offset, int64 length, int64 total) {
  if (sized_ && total == expected_ && offset == received_ && offset + length == total) return;
  logger_->Log(L"HttpToMemTask::OnHttpStatusPartialContent",
               L"Unexpected content range (OFFSET:%lld SIZE:%lld TOTAL:%lld)/(POS:%lld SIZE:%Iu).", offset, length,
               total, received_, static_cast<size_t>(sized_ ? expected_ : 0));
  Finish(kResultBadFormat);
}

void HttpToMemTask::OnData(const Buffer& chunk) {
  // Nothing is stored once the task is finishing (a refused header, a
  // failure or a cancel).
  if (!sized_ || IsFinishing()) return;
  if (received_ + static_cast<int64>(chunk.size()) > expected_) {
    logger_->Log(L"HttpToMemTask::OnData", L"Data large than expected %lld/%Iu.",
                 received_ + static_cast<int64>(chunk.size()), static_cast<size_t>(expected_));
    Finish(kResultBadFormat);
    return;
  }
  received_by_request_ += static_cast<int64>(chunk.size());
  if (chunk.size() > 0) stalls_.MarkProgress();
  size_t taken = head_pending_ ? TakeHead(chunk) : 0;
  if (head_pending_ || IsFinishing()) return;
  memcpy(buffer_.data() + received_, chunk.data() + taken, chunk.size() - taken);
  received_ += static_cast<int64>(chunk.size() - taken);
}

// Collects the head; once it is complete and accepted, allocates the body and
// puts the head at its start. Returns how many bytes of the chunk it used.
size_t HttpToMemTask::TakeHead(const Buffer& chunk) {
  const wchar_t* kContext = L"HttpToMemTask::OnData";
  size_t taken = std::min(chunk.size(), check_.size - static_cast<size_t>(received_));
  memcpy(head_.data() + received_, chunk.data(), taken);
  received_ += static_cast<int64>(taken);
  if (received_ < static_cast<int64>(check_.size)) return taken;
  if (!check_.accept(head_.data(), expected_)) {
    logger_->Log(kContext, L"Unexpected content length %lld.", expected_);
    Finish(kResultBadFormat);
    return taken;
  }
  if (buffer_.size() != static_cast<size_t>(expected_) && !buffer_.SetSize(static_cast<size_t>(expected_))) {
    logger_->Log(kContext, L"Buffer::SetSize(%lld) failed.", expected_);
    Finish(kResultOutOfMemory);
    return taken;
  }
  memcpy(buffer_.data(), head_.data(), check_.size);
  head_pending_ = false;
  return taken;
}

void HttpToMemTask::OnComplete(long hr) {
  details::ScopedReference hold(this);
  bool admitted = Enter();
  if (admitted) {
    bool idle = hr < 0 && sized_ && IsBrokenConnection(hr);
    if ((hr >= 0 || idle) && received_ != (sized_ ? expected_ : 0)) {
      const wchar_t* kContext = L"HttpToMemTask::OnComplete";
      logger_->Log(kContext, L"Data not complete %lld/%Iu.", received_, static_cast<size_t>(expected_));
      if (received_by_request_ == 0) {
        // A server that ends every response before its body would otherwise
        // be asked again without pause and without end.
        logger_->Log(kContext, L"No data in the response.");
        if (!idle) hr = kResultShortRead;
      } else if (idle && !stalls_.Spend()) {
        logger_->Log(kContext, L"No new byte for %lld ms in all; the transfer ends (0x%08X).", stalls_.spent_ms(),
                     static_cast<unsigned long>(hr));
      } else {
        if (idle) {
          logger_->Log(kContext, L"The connection went idle (0x%08X) after %lld bytes; asking for the rest.",
                       static_cast<unsigned long>(hr), received_by_request_);
        }
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

void HttpToMemTask::DeliverEnd() {
  logger_->Log(L"HttpToMemTask::OnComplete", L"Complete.");
  ReleaseTransfer();
  ITaskCallback<HttpToMemResult&&>* callback = callback_;
  callback_ = nullptr;
  HttpToMemResult end;
  end.result = result;
  // Only allocated bytes are handed out: a body still waiting for its head
  // check has none.
  end.data = buffer_.data();
  end.size = buffer_.size();
  callback->OnComplete(std::move(end));
  callback->Release();
  Release();
}

}  // namespace

ITask* CreateHttpToMemTask(const std::wstring& url, ITaskCallback<HttpToMemResult&&>* callback, ILogger* logger) {
  return CreateHttpToMemTask(url, callback, logger, BodyHeadCheck());
}

ITask* CreateHttpToMemTask(const std::wstring& url, ITaskCallback<HttpToMemResult&&>* callback, ILogger* logger,
                           const BodyHeadCheck& check, const TransferTimeouts& timeouts) {
  if (callback == nullptr || logger == nullptr) return nullptr;
  return details::Object<HttpToMemTask>::Create(url, callback, logger, check, timeouts);
}

}  // namespace stubframework::downloader
