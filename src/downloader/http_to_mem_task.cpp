#include "downloader/http_to_mem_task.h"

#include <cstring>
#include <new>

#include "downloader/buffer.h"
#include "downloader/http_task.h"
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

  HttpToMemTask(const std::wstring& url, ITaskCallback<HttpToMemResult&&>* callback, ILogger* logger)
      : url_(url), callback_(callback), logger_(logger) {
    httpCallback_ = details::Object<HttpToMemHttpCallback>::Create(this);
    if (httpCallback_ == nullptr) throw std::bad_alloc();
    callback_->AddRef();
    logger_->AddRef();
  }

  ~HttpToMemTask() {
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
  void OnComplete(long hr);
  void DeliverEnd();
  void ReleaseTransfer() { transfer_.Reset(); }

  std::wstring url_;
  ITaskCallback<HttpToMemResult&&>* callback_;
  HttpToMemHttpCallback* httpCallback_ = nullptr;
  details::SubTaskSlot transfer_;
  std::string etag_;
  int64 received_ = 0;
  Buffer buffer_;
  bool sized_ = false;  // a 200 has fixed the expected size
  ILogger* logger_;
};

void HttpToMemTask::Start() {
  // The end may come synchronously, and its callback may drop the caller's
  // reference: keep this object alive until Start returns.
  details::ScopedReference hold(this);
  Begin();
  logger_->Log(L"HttpToMemTask::Start", L"Start download %s to memory.", url_.c_str());
  AddRef();
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
    range.size = static_cast<int64>(buffer_.size()) - received_;
    range.etag = etag_;
  }
  result = kResultOk;
  ITask* transfer = CreateHttpTask(url_, range, httpCallback_, logger_);
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
  if (!sized_ || static_cast<size_t>(length) != buffer_.size()) {
    if (!buffer_.SetSize(static_cast<size_t>(length))) {
      sized_ = false;
      logger_->Log(kContext, L"Buffer::SetSize(%lld) failed.", length);
      Finish(kResultOutOfMemory);
      return;
    }
  }
  sized_ = true;
  etag_ = etag;
  received_ = 0;  // a 200 always restarts the body from its first byte
}

void HttpToMemTask::OnHttpStatusPartialContent(int64 offset, int64 length, int64 total) {
  int64 expected = static_cast<int64>(buffer_.size());
  if (sized_ && total == expected && offset == received_ && offset + length == total) return;
  logger_->Log(L"HttpToMemTask::OnHttpStatusPartialContent",
               L"Unexpected content range (OFFSET:%lld SIZE:%lld TOTAL:%lld)/(POS:%lld SIZE:%Iu).", offset, length,
               total, received_, buffer_.size());
  Finish(kResultBadFormat);
}

void HttpToMemTask::OnData(const Buffer& chunk) {
  // Nothing is stored once the task is finishing (a refused header, a
  // failure or a cancel).
  if (!sized_ || IsFinishing()) return;
  if (received_ + static_cast<int64>(chunk.size()) > static_cast<int64>(buffer_.size())) {
    logger_->Log(L"HttpToMemTask::OnData", L"Data large than expected %lld/%Iu.",
                 received_ + static_cast<int64>(chunk.size()), buffer_.size());
    Finish(kResultBadFormat);
    return;
  }
  memcpy(buffer_.data() + received_, chunk.data(), chunk.size());
  received_ += static_cast<int64>(chunk.size());
}

void HttpToMemTask::OnComplete(long hr) {
  details::ScopedReference hold(this);
  bool admitted = Enter();
  if (admitted) {
    if (hr >= 0 && received_ != static_cast<int64>(buffer_.size())) {
      logger_->Log(L"HttpToMemTask::OnComplete", L"Data not complete %lld/%Iu.", received_, buffer_.size());
      ReleaseTransfer();
      if (StartHttp()) {
        Leave();
        return;
      }
      hr = kResultOutOfMemory;
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
  end.data = buffer_.data();
  end.size = buffer_.size();
  callback->OnComplete(std::move(end));
  callback->Release();
  Release();
}

}  // namespace

ITask* CreateHttpToMemTask(const std::wstring& url, ITaskCallback<HttpToMemResult&&>* callback, ILogger* logger) {
  if (callback == nullptr || logger == nullptr) return nullptr;
  return details::Object<HttpToMemTask>::Create(url, callback, logger);
}

}  // namespace stubframework::downloader
