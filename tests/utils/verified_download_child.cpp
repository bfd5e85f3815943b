// Runs one block-verified download in a process of its own, so that a test
// can kill it part way. After each progress report it records the highest
// byte position reported so far in SIDECAR (8 bytes, little-endian); the
// bytes before it have been written to the destination.
//
//   verified_download_child URL META_URL PATH SIDECAR
// Exit status: the download's HRESULT.
#include <windows.h>

#include <cstdio>
#include <string>

#include "base/unique_handle.h"
#include "downloader/download_logger.h"
#include "downloader/download_simple_task.h"
#include "downloader/object.h"
#include "utils/download_file_verified.h"

namespace downloader = stubframework::downloader;

namespace {

class ChildCallback : public downloader::IDownloadCallback {
 public:
  ChildCallback(HANDLE sidecar) : sidecar_(sidecar), event_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
  ~ChildCallback() { ::CloseHandle(event_); }
  void OnProgress(downloader::int64 current, downloader::int64) override {
    if (current <= highest_) return;
    highest_ = current;
    LARGE_INTEGER zero = {};
    ::SetFilePointerEx(sidecar_, zero, nullptr, FILE_BEGIN);
    DWORD written = 0;
    ::WriteFile(sidecar_, &highest_, sizeof(highest_), &written, nullptr);
  }
  void OnComplete(long result) override {
    result_ = result;
    ::SetEvent(event_);
  }
  HANDLE sidecar_;
  HANDLE event_;
  long result_ = 0;
  downloader::int64 highest_ = 0;
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 5) {
    fprintf(stderr, "usage: verified_download_child URL META_URL PATH SIDECAR\n");
    return 2;
  }
  stubframework::base::UniqueHandle sidecar(
      ::CreateFileW(argv[4], GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!sidecar) return 3;
  auto* callback = downloader::details::Object<ChildCallback>::Create(sidecar.Get());
  downloader::ILogger* logger = stubframework::downloader::CreateDownloadLogger(nullptr);
  downloader::ITask* task = downloader::CreateDownloadSimpleTask(argv[1], argv[2], argv[3], callback, logger);
  if (task == nullptr) return 4;
  task->Start();
  ::WaitForSingleObject(callback->event_, INFINITE);
  long result = callback->result_;
  task->Release();
  callback->Release();
  logger->Release();
  return static_cast<int>(result);
}
