// The worker threads of one run, their one stop signal, and the join that
// ends them before their owner tears down what they use.
//
// States: open (Start makes threads) -> stopping (the stop event is set;
// Start refuses) -> joined (StopAndJoin has returned; a worker it gave up on
// may still run). Nothing goes back to open.
// Threads: the owner's thread (the UI thread) calls Start, Stop and
// StopAndJoin; a worker that starts another calls Start too, so the handle
// list is under the set's lock. Workers only wait on stop_event() (manual
// reset, so every waiter sees it) or read stopping(). The set never frees a
// worker's job: each worker owns its own.
#pragma once

#include <windows.h>

#include <cstddef>
#include <vector>

#include "base/critical_section.h"
#include "base/unique_handle.h"

namespace stubframework::base {

class WorkerSet {
 public:
  WorkerSet();
  // Closes the handles of threads that may still run; waits for none (that
  // is StopAndJoin's, which the owner runs while their objects still live).
  ~WorkerSet();
  WorkerSet(const WorkerSet&) = delete;
  WorkerSet& operator=(const WorkerSet&) = delete;

  // Starts `routine(job)` and keeps its handle. False, starting nothing, once
  // the set is stopping (last error ERROR_OPERATION_ABORTED) or when no thread
  // (or no stop event) could be made; the caller still owns `job` then.
  bool Start(LPTHREAD_START_ROUTINE routine, void* job);

  // Set once the run is closing; never reset.
  HANDLE stop_event() const { return stop_.Get(); }
  bool stopping() const;
  void Stop();

  // Stops, then waits up to `limit_ms` for every worker, dispatching this
  // thread's messages meanwhile (a worker's call into the UI thread's
  // apartment is delivered as a message; without the pump both would wait
  // for each other). A WM_QUIT met on the way is posted again, with its code. Returns how
  // many workers were still running at the limit.
  size_t StopAndJoin(DWORD limit_ms);

  // Workers started and not yet ended.
  size_t running();

 private:
  // Closes the handles of workers that have ended; under lock_.
  void ForgetEnded();

  UniqueHandle stop_;
  CriticalSection lock_;
  std::vector<UniqueHandle> threads_;
};

}  // namespace stubframework::base
