#include "downloader/download_clock.h"

#include <ctime>

#include "base/critical_section.h"

namespace stubframework::downloader {
namespace {

struct DownloadClock {
  stubframework::base::CriticalSection lock;
  int64 start = 0;
  int64 end = 0;
};

DownloadClock& Clock() {
  static DownloadClock clock;
  return clock;
}

}  // namespace

int64 MarkDownloadStart() {
  int64 now = _time64(nullptr);
  stubframework::base::ScopedLock hold(Clock().lock);
  Clock().start = now;
  return now;
}

int64 MarkDownloadEnd() {
  int64 now = _time64(nullptr);
  stubframework::base::ScopedLock hold(Clock().lock);
  Clock().end = now;
  return now;
}

int64 DownloadTimeSeconds() {
  stubframework::base::ScopedLock hold(Clock().lock);
  return Clock().start != 0 && Clock().end != 0 ? Clock().end - Clock().start : 0;
}

}  // namespace stubframework::downloader
