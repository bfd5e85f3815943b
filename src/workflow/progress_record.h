// What a worker shows the page while it runs, and what the worker shares
// with the reporter thread that publishes it.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>

#include "base/critical_section.h"
#include "base/property_bag.h"
#include "base/unique_handle.h"
#include "workflow/error_handle.h"

namespace stubframework::workflow {

// The last progress published to the page and the job's result; kRunning
// while the transfer or the extraction goes on.
struct ProgressRecord {
  uint64_t current = 0;
  uint64_t total = 0;
  int result = kRunning;
};

// How often a reporter shows progress: often enough for a person to see the
// bar move, rarely enough that a fast transfer does not pay for each call.
inline constexpr DWORD kReportIntervalMs = 100;

// Calls the page's function with (result, total, current).
using PagePublisher = std::function<void(int result, uint64_t total, uint64_t current)>;

// Shared by a worker and one reporter thread at a time. Every read and write
// of `record` is made under `lock`. The reporter publishes every
// `interval_ms`, and at once when the worker wakes it (a result stored, or
// the count completed): the worker then waits for the reporter's thread to
// end rather than polling for it.
struct ReporterContext {
  ReporterContext(base::LockedProperties properties, PagePublisher publish, std::wstring url)
      : properties(properties), publish(std::move(publish)), url(std::move(url)),
        wake(::CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}

  int Result() {
    base::ScopedLock hold(lock);
    return record.result;
  }
  // Stores the result and wakes the reporter, which then ends.
  void SetResult(int result) {
    {
      base::ScopedLock hold(lock);
      record.result = result;
    }
    Wake();
  }
  // The reporter looks at the counters now rather than at its next interval.
  void Wake() {
    if (wake) ::SetEvent(wake.Get());
  }
  // The reporter's pause, called with `lock` released: the interval, or
  // less when woken.
  void WaitForNextReport() {
    if (!wake || ::WaitForSingleObject(wake.Get(), interval_ms) == WAIT_FAILED) ::Sleep(interval_ms);
  }

  base::LockedProperties properties;  // the store under the method table's lock
  PagePublisher publish;
  std::wstring url;
  base::CriticalSection lock;
  ProgressRecord record;
  DWORD interval_ms = kReportIntervalMs;
  base::UniqueHandle wake;  // auto-reset
};

}  // namespace stubframework::workflow
