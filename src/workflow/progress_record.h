// What a worker shows the page while it runs, and what the worker shares
// with the reporter thread that publishes it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "base/critical_section.h"
#include "base/property_bag.h"
#include "workflow/error_handle.h"

namespace stubframework::workflow {

// The last progress published to the page and the job's result; kRunning
// while the transfer or the extraction goes on.
struct ProgressRecord {
  uint64_t current = 0;
  uint64_t total = 0;
  int result = kRunning;
};

// Calls the page's function with (result, total, current).
using PagePublisher = std::function<void(int result, uint64_t total, uint64_t current)>;

// Shared by a worker and one reporter thread at a time. Every read and write
// of `record` is made under `lock`.
struct ReporterContext {
  ReporterContext(base::LockedProperties properties, PagePublisher publish, std::wstring url)
      : properties(properties), publish(std::move(publish)), url(std::move(url)) {}

  int Result() {
    base::ScopedLock hold(lock);
    return record.result;
  }
  void SetResult(int result) {
    base::ScopedLock hold(lock);
    record.result = result;
  }

  base::LockedProperties properties;  // the store under the method table's lock
  PagePublisher publish;
  std::wstring url;
  base::CriticalSection lock;
  ProgressRecord record;
};

}  // namespace stubframework::workflow
