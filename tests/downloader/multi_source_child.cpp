// Runs one download from several sources in a process of its own, so that a
// test can kill it part way. After each progress report it records the
// highest count of verified bytes reported so far in SIDECAR (8 bytes,
// little-endian); those blocks are on disk. The engine's lines go to
// SIDECAR.log.
//
//   multi_source_child PATH SIDECAR CONNECTIONS URL META_URL [URL META_URL]...
// Exit status: the download's result.
#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cwchar>
#include <string>

#include "base/unique_handle.h"
#include "downloader/download_logger.h"
#include "downloader/multi_source_task.h"
#include "downloader/object.h"
#include "support/sidecar_callback.h"

namespace downloader = stubframework::downloader;

namespace {

// Each line "context> message" in UTF-8-free ASCII (the tests read ASCII).
class FileLogger : public downloader::ILogger {
 public:
  explicit FileLogger(HANDLE file) : file_(file) { ::InitializeCriticalSection(&lock_); }
  ~FileLogger() { ::DeleteCriticalSection(&lock_); }
  void Log(const wchar_t* context, const wchar_t* format, ...) override {
    va_list args;
    va_start(args, format);
    std::wstring message = downloader::FormatDownloadLogMessage(format, args);
    va_end(args);
    std::wstring line = std::wstring(context) + L"> " + message + L"\n";
    std::string narrow(line.begin(), line.end());
    ::EnterCriticalSection(&lock_);
    DWORD written = 0;
    ::WriteFile(file_, narrow.data(), static_cast<DWORD>(narrow.size()), &written, nullptr);
    ::LeaveCriticalSection(&lock_);
  }

 private:
  HANDLE file_;
  CRITICAL_SECTION lock_;
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 6 || (argc - 4) % 2 != 0) {
    fprintf(stderr, "usage: multi_source_child PATH SIDECAR CONNECTIONS URL META_URL [URL META_URL]...\n");
    return 2;
  }
  stubframework::base::UniqueHandle sidecar(
      ::CreateFileW(argv[2], GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  std::wstring log_path = std::wstring(argv[2]) + L".log";
  stubframework::base::UniqueHandle log(::CreateFileW(log_path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                                      CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!sidecar || !log) return 3;
  downloader::MultiSourceRequest request;
  request.path = argv[1];
  request.connections = _wtoi(argv[3]);
  for (int i = 4; i + 1 < argc; i += 2) {
    request.urls.push_back(argv[i]);
    request.meta_urls.push_back(argv[i + 1]);
  }
  auto* callback = downloader::details::Object<testsupport::SidecarCallback>::Create(sidecar.Get());
  auto* logger = downloader::details::Object<FileLogger>::Create(log.Get());
  downloader::ITask* task = downloader::CreateMultiSourceTask(request, callback, logger);
  if (task == nullptr) return 4;
  task->Start();
  ::WaitForSingleObject(callback->event_, INFINITE);
  long result = callback->result_;
  task->Release();
  callback->Release();
  logger->Release();
  return static_cast<int>(result);
}
