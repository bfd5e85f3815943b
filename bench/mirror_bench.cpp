// One download from several sources under Wine, for bench/run_mirror_bench.sh.
//
//   mirror_bench PATH CONNECTIONS URL [URL]...
//
// Each URL's .meta is the URL with ".meta" appended. Prints one line
// "SECONDS BYTES RESULT PEAK_WORKING_SET" and exits 0 when the download
// verified.
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <string>

#include "downloader/download_logger.h"
#include "downloader/multi_source_task.h"
#include "downloader/object.h"

namespace downloader = stubframework::downloader;

namespace {

class Done : public downloader::IDownloadCallback {
 public:
  Done() : event_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
  ~Done() { ::CloseHandle(event_); }
  void OnProgress(downloader::int64 current, downloader::int64) override { bytes_ = current; }
  void OnComplete(long result) override {
    result_ = result;
    ::SetEvent(event_);
  }
  HANDLE event_;
  long result_ = 0;
  downloader::int64 bytes_ = 0;
};

double Now() {
  LARGE_INTEGER f, c;
  ::QueryPerformanceFrequency(&f);
  ::QueryPerformanceCounter(&c);
  return static_cast<double>(c.QuadPart) / static_cast<double>(f.QuadPart);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 4) {
    fprintf(stderr, "usage: mirror_bench PATH CONNECTIONS URL [URL]...\n");
    return 2;
  }
  downloader::MultiSourceRequest request;
  request.path = argv[1];
  request.connections = _wtoi(argv[2]);
  for (int i = 3; i < argc; ++i) {
    request.urls.push_back(argv[i]);
    request.meta_urls.push_back(std::wstring(argv[i]) + L".meta");
  }
  auto* done = downloader::details::Object<Done>::Create();
  downloader::ILogger* logger = downloader::CreateDownloadLogger(nullptr);
  double begun = Now();
  downloader::ITask* task = downloader::CreateMultiSourceTask(request, done, logger);
  if (task == nullptr) return 3;
  task->Start();
  ::WaitForSingleObject(done->event_, INFINITE);
  double seconds = Now() - begun;
  PROCESS_MEMORY_COUNTERS counters = {};
  counters.cb = sizeof(counters);
  ::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof(counters));
  long result = done->result_;
  printf("%.6f %lld %ld %lu\n", seconds, done->bytes_, result, static_cast<unsigned long>(counters.PeakWorkingSetSize));
  task->Release();
  done->Release();
  logger->Release();
  return result == 0 ? 0 : 1;
}
