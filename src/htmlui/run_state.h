// What one run's workers share with the script methods that start and steer
// them: the workers themselves with their stop signal, the download's cancel
// and size-query flags, whether a package search goes on, and the raw result
// of the last installer. The application owns it and outlives every worker
// (it joins them first); the bridge reaches it for the methods, a worker
// through its WorkerHost.
//
// Threads: the flags are atomics, read and written by the UI thread and by
// workers; the worker set documents its own.
#pragma once

#include <windows.h>

#include <atomic>

#include "base/worker_set.h"

namespace stubframework::htmlui {

class RunState {
 public:
  RunState() = default;
  RunState(const RunState&) = delete;
  RunState& operator=(const RunState&) = delete;

  base::WorkerSet& workers() { return workers_; }
  HANDLE stop_event() const { return workers_.stop_event(); }
  bool stopping() const { return workers_.stopping(); }

  // Ends the search, stops every worker and waits for them up to `limit_ms`;
  // returns how many still run (WorkerSet::StopAndJoin).
  size_t StopAndJoin(DWORD limit_ms);

  // The page's stop request for the running download; a closing run stops it too.
  void SetCancel(bool on) { cancel_ = on; }
  bool cancel() const { return cancel_ || stopping(); }
  // A size query runs (the transfer ends once the size is known).
  void SetSizeQuery(bool on) { size_query_ = on; }
  bool size_query() const { return size_query_; }
  // A package search goes on until the page cancels it or the run closes.
  void SetKeepSearching(bool on) { keep_searching_ = on; }
  const std::atomic<bool>& keep_searching() const { return keep_searching_; }

  // The raw result of the last installer run (exit code or Windows Installer
  // result); 0 until one ran.
  void SetLastInstallError(DWORD raw) { last_install_error_ = raw; }
  DWORD last_install_error() const { return last_install_error_; }

 private:
  base::WorkerSet workers_;
  std::atomic<bool> cancel_{false};
  std::atomic<bool> size_query_{false};
  std::atomic<bool> keep_searching_{true};
  std::atomic<DWORD> last_install_error_{0};
};

}  // namespace stubframework::htmlui
