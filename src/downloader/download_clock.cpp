#include "downloader/download_clock.h"

#include <windows.h>

#include <ctime>

namespace stubframework::downloader {
namespace {

// Written and read whole by the download threads; plain data needs no
// constructor, so nothing runs before main for it.
struct DownloadClock {
  volatile LONG64 start;
  volatile LONG64 end;
};

DownloadClock g_clock = {0, 0};

int64 Read(volatile LONG64* value) { return ::InterlockedCompareExchange64(value, 0, 0); }

}  // namespace

int64 MarkDownloadStart() {
  int64 now = _time64(nullptr);
  ::InterlockedExchange64(&g_clock.start, now);
  return now;
}

int64 MarkDownloadEnd() {
  int64 now = _time64(nullptr);
  ::InterlockedExchange64(&g_clock.end, now);
  return now;
}

int64 DownloadTimeSeconds() {
  int64 start = Read(&g_clock.start);
  int64 end = Read(&g_clock.end);
  return start != 0 && end != 0 ? end - start : 0;
}

}  // namespace stubframework::downloader
