#include "utils/download_to_memory.h"

#include <windows.h>

#include <cstring>

#include "base/unique_handle.h"
#include "downloader/download_logger.h"
#include "downloader/http_to_mem_task.h"
#include "downloader/object.h"
#include "utils/download_host.h"

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

  // Waits for the end; a stop request cancels the task, which then ends.
  void Wait(downloader::ITask* task, const std::function<bool()>& stop) {
    bool cancelled = false;
    while (::WaitForSingleObject(event_.Get(), stop ? kStopPollMs : INFINITE) == WAIT_TIMEOUT) {
      if (!cancelled && stop()) {
        task->Cancel();
        cancelled = true;
      }
    }
  }
  bool success() const { return success_; }

 private:
  bool success_ = false;
  downloader::Buffer* buffer_;
  base::UniqueHandle event_;
};

}  // namespace

bool DownloadToMemory(const std::wstring& url, downloader::Buffer& buffer, const std::function<bool()>& stop) {
  downloader::ILogger* logger = downloader::CreateDownloadLogger(nullptr);
  if (logger == nullptr) return false;
  auto* callback = downloader::details::Object<HttpToMemCallback>::Create(&buffer);
  downloader::ITask* task = callback != nullptr ? downloader::CreateHttpToMemTask(url, callback, logger) : nullptr;
  bool success = false;
  if (task != nullptr) {
    task->Start();
    callback->Wait(task, stop);
    success = callback->success();
    task->Release();
  }
  if (callback != nullptr) callback->Release();
  logger->Release();
  return success;
}

}  // namespace stubframework::utils
