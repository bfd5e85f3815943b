// Download benchmarks run under Wine by the bench/run_*.sh scripts. Each mode
// does one run and prints one line "SECONDS BYTES RESULT [PEAK_WORKING_SET]".
//
//   download_bench file URL PATH SIZE   HttpToFileTask into PATH
//   download_bench wininet URL          a minimal asynchronous WinINet loop
//                                       (query available, read, discard)
//   download_bench verified URL META PATH [KILL_AT]
//                                       the block-verified download; with
//                                       KILL_AT the process ends itself, as a
//                                       kill would, at the first progress
//                                       report of at least KILL_AT bytes
//   download_bench hash PATH META       the hash pass over a complete file
//   download_bench stop URL META PATH AFTER_MS
//                                       a block-verified download stopped
//                                       after AFTER_MS: prints the stop's
//                                       latency (from the stop request to the
//                                       return) in seconds and the bytes done
//   download_bench stop-sources AFTER_MS N PATH URL [MIRROR]...
//                                       the same stop in a download from
//                                       several sources over N connections,
//                                       as the download worker runs it
#include <windows.h>
#include <wininet.h>
#include <psapi.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "base/property_bag.h"
#include "base/unique_handle.h"
#include "downloader/download_logger.h"
#include "downloader/http_to_file_task.h"
#include "downloader/object.h"
#include "utils/download_file_verified.h"
#include "utils/verify_file.h"
#include "workflow/several_sources_transfer.h"

namespace downloader = stubframework::downloader;

namespace {

using downloader::int64;

// The process's peak working set in bytes (Wine: the peak resident size).
unsigned long long PeakWorkingSet() {
  PROCESS_MEMORY_COUNTERS counters = {};
  counters.cb = sizeof(counters);
  if (!::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof(counters))) return 0;
  return counters.PeakWorkingSetSize;
}

double Now() {
  LARGE_INTEGER f, c;
  ::QueryPerformanceFrequency(&f);
  ::QueryPerformanceCounter(&c);
  return static_cast<double>(c.QuadPart) / static_cast<double>(f.QuadPart);
}

class FileDone : public downloader::IHttpToFileCallback {
 public:
  FileDone() : event_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
  ~FileDone() { ::CloseHandle(event_); }
  void OnData(int64, int64 size) override { bytes_ += size; }
  void OnComplete(long result) override {
    result_ = result;
    ::SetEvent(event_);
  }
  HANDLE event_;
  long result_ = 0;
  int64 bytes_ = 0;
};

// Asks nginx for the length first (a HEAD through the same engine would cost
// a second connection; the file size is passed by the script instead).
int RunFile(const wchar_t* url, const wchar_t* path, int64 size) {
  stubframework::base::UniqueHandle file(
      ::CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return 2;
  auto* done = downloader::details::Object<FileDone>::Create();
  downloader::ILogger* logger = stubframework::downloader::CreateDownloadLogger(nullptr);
  double start = Now();
  downloader::ITask* task = downloader::CreateHttpToFileTask(url, file.Get(), 0, size, done, logger);
  if (task == nullptr) return 3;
  task->Start();
  ::WaitForSingleObject(done->event_, INFINITE);
  double seconds = Now() - start;
  task->Release();
  printf("%.6f %lld %ld\n", seconds, done->bytes_, done->result_);
  long result = done->result_;
  done->Release();
  logger->Release();
  return result == 0 ? 0 : 1;
}

HANDLE g_complete = nullptr;
DWORD_PTR g_result = 0;
DWORD g_error = 0;
HINTERNET g_request = nullptr;

void CALLBACK OnStatus(HINTERNET, DWORD_PTR, DWORD status, void* info, DWORD) {
  if (status == INTERNET_STATUS_HANDLE_CREATED) {
    g_request = reinterpret_cast<HINTERNET>(static_cast<INTERNET_ASYNC_RESULT*>(info)->dwResult);
  } else if (status == INTERNET_STATUS_REQUEST_COMPLETE) {
    g_result = static_cast<INTERNET_ASYNC_RESULT*>(info)->dwResult;
    g_error = static_cast<INTERNET_ASYNC_RESULT*>(info)->dwError;
    ::SetEvent(g_complete);
  }
}

int Fail(int code, const char* what) {
  fprintf(stderr, "wininet loop: %s failed: %lu (async error %lu)\n", what, ::GetLastError(), g_error);
  return code;
}

int RunWininet(const wchar_t* url) {
  g_complete = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
  double start = Now();
  HINTERNET session = ::InternetOpenW(L"bench", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, INTERNET_FLAG_ASYNC);
  ::InternetSetStatusCallbackW(session, &OnStatus);
  HINTERNET request = ::InternetOpenUrlW(session, url, nullptr, 0, INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE, 1);
  if (request == nullptr) {
    if (::GetLastError() != ERROR_IO_PENDING) return Fail(2, "InternetOpenUrlW");
    ::WaitForSingleObject(g_complete, INFINITE);
    request = g_request;
  }
  if (request == nullptr) return Fail(2, "InternetOpenUrlW (async)");
  std::vector<char> buffer(1 << 20);
  long long total = 0;
  for (;;) {
    DWORD available = 0;
    if (!::InternetQueryDataAvailable(request, &available, 0, 0)) {
      if (::GetLastError() != ERROR_IO_PENDING) return Fail(3, "InternetQueryDataAvailable");
      ::WaitForSingleObject(g_complete, INFINITE);
      if (g_result == 0) return Fail(3, "InternetQueryDataAvailable (async)");
      continue;  // ask again: the count is known now
    }
    if (available == 0) break;
    if (available > buffer.size()) available = static_cast<DWORD>(buffer.size());
    DWORD read = 0;
    if (!::InternetReadFile(request, buffer.data(), available, &read)) {
      if (::GetLastError() != ERROR_IO_PENDING) return Fail(4, "InternetReadFile");
      ::WaitForSingleObject(g_complete, INFINITE);
    }
    total += read;
  }
  double seconds = Now() - start;
  ::InternetCloseHandle(request);
  ::InternetCloseHandle(session);
  printf("%.6f %lld 0\n", seconds, total);
  return 0;
}

// Progress properties as the application keeps them, for the modes that
// watch the download's progress.
struct Progress {
  stubframework::base::PropertyBag bag;
  stubframework::base::CriticalSection lock;
  stubframework::base::LockedProperties properties{bag, lock};
};

int RunVerified(const wchar_t* url, const wchar_t* meta_url, const wchar_t* path, long kill_at) {
  Progress progress;
  stubframework::utils::DownloadHost host;
  host.properties = &progress.properties;
  // Asked at every progress report, right after the properties are set.
  host.cancel_requested = [&progress, kill_at] {
    if (kill_at > 0 && progress.properties.GetDownloadCurrent() >= kill_at) {
      printf("killed at %ld\n", progress.properties.GetDownloadCurrent());
      fflush(stdout);
      ::TerminateProcess(::GetCurrentProcess(), 3);
    }
    return false;
  };
  double start = Now();
  HRESULT hr = stubframework::utils::DownloadFileVerified(host, url, meta_url, path);
  double seconds = Now() - start;
  printf("%.6f 0 %ld %llu\n", seconds, static_cast<long>(hr), PeakWorkingSet());
  return hr == S_OK ? 0 : 1;
}

// Sets the stop flag after a delay and notes when, and how far the download was.
struct StopTimer {
  DWORD after_ms = 0;
  Progress* progress = nullptr;
  volatile LONG stop = 0;
  double stopped_at = 0;
  long done_at_stop = 0;

  static DWORD WINAPI Run(void* self) {
    auto* timer = static_cast<StopTimer*>(self);
    ::Sleep(timer->after_ms);
    timer->done_at_stop = timer->progress->properties.GetDownloadCurrent();
    timer->stopped_at = Now();
    ::InterlockedExchange(&timer->stop, 1);
    return 0;
  }
};

// Runs `download` with a stop requested after `after_ms`; prints the stop's
// latency, the bytes done when it was asked and the result.
template <typename Download>
int RunStopped(DWORD after_ms, Download download) {
  Progress progress;
  StopTimer timer;
  timer.after_ms = after_ms;
  timer.progress = &progress;
  stubframework::utils::DownloadHost host;
  host.properties = &progress.properties;
  host.cancel_requested = [&timer] { return ::InterlockedCompareExchange(&timer.stop, 0, 0) != 0; };
  stubframework::base::UniqueHandle stopper(::CreateThread(nullptr, 0, &StopTimer::Run, &timer, 0, nullptr));
  if (!stopper) return 2;
  HRESULT hr = download(host);
  double ended = Now();
  ::WaitForSingleObject(stopper.Get(), INFINITE);
  printf("%.6f %ld %ld\n", ended - timer.stopped_at, timer.done_at_stop, static_cast<long>(hr));
  return hr == E_ABORT ? 0 : 1;
}

int RunStop(const wchar_t* url, const wchar_t* meta_url, const wchar_t* path, DWORD after_ms) {
  return RunStopped(after_ms, [&](const stubframework::utils::DownloadHost& host) {
    return stubframework::utils::DownloadFileVerified(host, url, meta_url, path);
  });
}

int RunStopSources(DWORD after_ms, int connections, const wchar_t* path, int url_count, wchar_t** urls) {
  stubframework::workflow::SourceOptions options;
  options.connections = connections;
  for (int i = 0; i < url_count; ++i) options.urls.push_back(urls[i]);
  return RunStopped(after_ms, [&](const stubframework::utils::DownloadHost& host) {
    return stubframework::workflow::DownloadFromSources(host, options, path, nullptr);
  });
}

int RunHash(const wchar_t* path, const wchar_t* meta_path) {
  stubframework::base::UniqueHandle meta_file(
      ::CreateFileW(meta_path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  if (!meta_file) return 2;
  LARGE_INTEGER size;
  ::GetFileSizeEx(meta_file.Get(), &size);
  downloader::Buffer meta;
  meta.SetSize(static_cast<size_t>(size.QuadPart));
  DWORD read = 0;
  ::ReadFile(meta_file.Get(), meta.data(), static_cast<DWORD>(meta.size()), &read, nullptr);
  double start = Now();
  bool ok = stubframework::utils::VerifyFileWithMeta(path, meta);
  double seconds = Now() - start;
  printf("%.6f 0 %d\n", seconds, ok ? 0 : 1);
  return ok ? 0 : 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc >= 5 && std::wstring(argv[1]) == L"file") return RunFile(argv[2], argv[3], _wtoi64(argv[4]));
  if (argc >= 3 && std::wstring(argv[1]) == L"wininet") return RunWininet(argv[2]);
  if (argc >= 5 && std::wstring(argv[1]) == L"verified") {
    return RunVerified(argv[2], argv[3], argv[4], argc >= 6 ? _wtol(argv[5]) : 0);
  }
  if (argc >= 6 && std::wstring(argv[1]) == L"stop") return RunStop(argv[2], argv[3], argv[4], _wtoi(argv[5]));
  if (argc >= 6 && std::wstring(argv[1]) == L"stop-sources") {
    return RunStopSources(_wtoi(argv[2]), _wtoi(argv[3]), argv[4], argc - 5, argv + 5);
  }
  if (argc >= 4 && std::wstring(argv[1]) == L"hash") return RunHash(argv[2], argv[3]);
  fprintf(stderr,
          "usage: download_bench file URL PATH SIZE | wininet URL | verified URL META PATH [KILL_AT] |\n"
          "       hash PATH META | stop URL META PATH AFTER_MS |\n"
          "       stop-sources AFTER_MS N PATH URL [MIRROR]...\n");
  return 2;
}
