#include "utils/verify_file.h"

#include <windows.h>

#include <cstring>

#include "base/unique_handle.h"
#include "downloader/download_meta.h"
#include "downloader/hash_task.h"
#include "downloader/object.h"
#include "utils/download_to_memory.h"
#include "utils/url_probe.h"

namespace stubframework::utils {
namespace {

// Counts the leading blocks that match the meta and stops the pass at the
// first that does not (or at a block the meta does not list).
class HashCallback : public downloader::IHashCallback {
 public:
  explicit HashCallback(const downloader::DownloadMeta* meta)
      : meta_(meta), event_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
  }
  bool Constructed() const { return static_cast<bool>(event_); }

  void SetTask(downloader::ITask* task) { task_ = task; }
  void Wait() { ::WaitForSingleObject(event_.Get(), INFINITE); }
  size_t matched() const { return matched_; }
  downloader::HashResult result() const { return result_; }

  void OnHash(const downloader::uint8 digest[downloader::kDigestSize]) override {
    if (matched_ < meta_->digests.size() &&
        memcmp(digest, meta_->digests[matched_].data(), downloader::kDigestSize) == 0) {
      ++matched_;
    } else {
      task_->Cancel();
    }
  }

  void OnComplete(downloader::HashResult result) override {
    result_ = result;
    ::SetEvent(event_.Get());
  }

 private:
  const downloader::DownloadMeta* meta_;
  size_t matched_ = 0;
  downloader::ITask* task_ = nullptr;
  base::UniqueHandle event_;
  downloader::HashResult result_ = downloader::Cancelled;
};

}  // namespace

bool VerifyFileWithMeta(const std::wstring& path, const downloader::Buffer& meta) {
  base::UniqueHandle file(
      ::CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  return file && VerifyOpenFileWithMeta(file.Get(), meta);
}

bool VerifyOpenFileWithMeta(HANDLE file, const downloader::Buffer& meta) {
  downloader::DownloadMeta parsed;
  if (!downloader::ParseDownloadMeta(meta.data(), meta.size(), &parsed)) return false;
  LARGE_INTEGER start = {};
  if (!::SetFilePointerEx(file, start, nullptr, FILE_BEGIN)) return false;
  auto* callback = downloader::details::Object<HashCallback>::Create(&parsed);
  if (callback == nullptr) return false;
  downloader::ITask* task = downloader::CreateHashTask(file, callback);
  if (task == nullptr) {
    callback->Release();
    return false;
  }
  callback->SetTask(task);
  task->Start();
  callback->Wait();
  bool ok = callback->result() == downloader::Success && callback->matched() == parsed.digests.size();
  task->Release();
  callback->Release();
  return ok;
}

bool IsFileUpToDate(const std::wstring& path, const std::wstring& metaUrl) {
  if (!IsUrlValid(metaUrl)) return true;
  downloader::Buffer meta;
  if (!DownloadToMemory(metaUrl, meta)) return false;
  return VerifyFileWithMeta(path, meta);
}

}  // namespace stubframework::utils
