// Helpers for block-verified download tests: meta files and a recording
// IDownloadCallback that can cancel its task on a condition.
#pragma once

#include <windows.h>

#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "downloader/download_meta.h"
#include "downloader/hash_task.h"
#include "engine_test_util.h"

namespace downloader = stubframework::downloader;

namespace testsupport {

// The meta file of `data`: size, then one SHA-1 per 1 MiB block.
inline std::string MakeMeta(const std::string& data) {
  std::string meta(8, '\0');
  unsigned long long size = data.size();
  for (int i = 0; i < 8; ++i) meta[i] = static_cast<char>((size >> (8 * i)) & 0xFF);
  for (size_t at = 0; at < data.size(); at += static_cast<size_t>(downloader::kBlockSize)) {
    size_t n = std::min(data.size() - at, static_cast<size_t>(downloader::kBlockSize));
    downloader::uint8 digest[downloader::kDigestSize];
    downloader::Sha1(reinterpret_cast<const downloader::uint8*>(data.data() + at), n, digest);
    meta.append(reinterpret_cast<const char*>(digest), downloader::kDigestSize);
  }
  return meta;
}

class DownloadRecorder : public downloader::IDownloadCallback, public Completion {
 public:
  void OnProgress(downloader::int64 current, downloader::int64 total) override {
    {
      std::lock_guard<std::mutex> hold(mutex_);
      progress_.push_back({current, total});
    }
    if (cancel_when_ && task_ != nullptr && cancel_when_(current, total)) task_->Cancel();
  }
  void OnComplete(long result) override { Complete(result); }
  std::vector<std::pair<downloader::int64, downloader::int64>> progress() {
    std::lock_guard<std::mutex> hold(mutex_);
    return progress_;
  }

  downloader::ITask* task_ = nullptr;
  std::function<bool(downloader::int64, downloader::int64)> cancel_when_;

 private:
  std::mutex mutex_;
  std::vector<std::pair<downloader::int64, downloader::int64>> progress_;
};

inline bool WriteWholeFile(const std::wstring& path, const std::string& bytes) {
  HANDLE file =
      ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  bool ok = ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
            written == bytes.size();
  ::CloseHandle(file);
  return ok;
}

inline long long FileSizeOf(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return -1;
  return (static_cast<long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

}  // namespace testsupport
