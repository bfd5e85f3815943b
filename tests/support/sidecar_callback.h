// The callback of a download run in a child process that a test kills part
// way: after each progress report it records the highest count reported so
// far in the sidecar file (8 bytes, little-endian), and it signals `event_`
// at the end with the result in `result_`.
#pragma once

#include <windows.h>

#include "downloader/interfaces.h"

namespace testsupport {

class SidecarCallback : public stubframework::downloader::IDownloadCallback {
 public:
  explicit SidecarCallback(HANDLE sidecar)
      : sidecar_(sidecar), event_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
  ~SidecarCallback() { ::CloseHandle(event_); }
  void OnProgress(stubframework::downloader::int64 current, stubframework::downloader::int64) override {
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
  stubframework::downloader::int64 highest_ = 0;
};

}  // namespace testsupport
