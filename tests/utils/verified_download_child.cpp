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
#include "support/sidecar_callback.h"
#include "utils/download_file_verified.h"

namespace downloader = stubframework::downloader;

int wmain(int argc, wchar_t** argv) {
  if (argc != 5) {
    fprintf(stderr, "usage: verified_download_child URL META_URL PATH SIDECAR\n");
    return 2;
  }
  stubframework::base::UniqueHandle sidecar(
      ::CreateFileW(argv[4], GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!sidecar) return 3;
  auto* callback = downloader::details::Object<testsupport::SidecarCallback>::Create(sidecar.Get());
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
