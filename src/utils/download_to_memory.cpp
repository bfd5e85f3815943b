#include "utils/download_to_memory.h"

#include <windows.h>

#include <cstring>

#include "base/unique_handle.h"
#include "downloader/download_logger.h"
#include "downloader/http_to_mem_task.h"
#include "downloader/object.h"

namespace stubframework::utils {
namespace {

class HttpToMemCallback : public downloader::ITaskCallback<downloader::HttpToMemResult&&> {
 public:
  explicit HttpToMemCallback(downloader::Buffer* buffer)
      : buffer_(buffer), event_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
  }
  bool Constructed() const { return static_cast<bool>(event_); }

  void OnComplete(downloader::HttpToMemResult&& result) override {
    success_ = result.result >= 0;
    if (success_ && buffer_->size() != result.size && !buffer_->SetSize(result.size)) success_ = false;
    if (success_ && result.size > 0) memcpy(buffer_->data(), result.data, result.size);
    ::SetEvent(event_.Get());
  }

  void Wait() { ::WaitForSingleObject(event_.Get(), INFINITE); }
  bool success() const { return success_; }

 private:
  bool success_ = false;
  downloader::Buffer* buffer_;
  base::UniqueHandle event_;
};

}  // namespace

bool DownloadToMemory(const std::wstring& url, downloader::Buffer& buffer) {
  downloader::ILogger* logger = downloader::CreateDownloadLogger(nullptr);
  if (logger == nullptr) return false;
  auto* callback = downloader::details::Object<HttpToMemCallback>::Create(&buffer);
  downloader::ITask* task = callback != nullptr ? downloader::CreateHttpToMemTask(url, callback, logger) : nullptr;
  bool success = false;
  if (task != nullptr) {
    task->Start();
    callback->Wait();
    success = callback->success();
    task->Release();
  }
  if (callback != nullptr) callback->Release();
  logger->Release();
  return success;
}

}  // namespace stubframework::utils
