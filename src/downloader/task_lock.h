// TaskLock<T, R>: the lock and phase that let a cancel or a failure meet work
// still running inside a task.
//
// Phases and the events that move between them (any thread may call each):
//   kCreated   --Begin (the Start call)-->            kRunning, 1 inside
//   kRunning   --Enter / Leave (a handler)-->         kRunning, count +1 / -1
//   kRunning   --Finish(r) (first finisher wins)-->   kFinishing; result = r
//   kFinishing --the last activity inside leaves-->   Abort() (once)
// Finish with nothing inside aborts at once. Enter in any phase but kRunning
// is refused, so no handler starts once a task is finishing. T supplies a
// `result` member and Abort(), which makes the running sub-step end; both
// run under the lock.
#pragma once

#include <windows.h>

#include "base/critical_section.h"
#include "downloader/interfaces.h"
#include "downloader/result_codes.h"

namespace stubframework::downloader::details {

template <typename T, typename R>
class TaskLock {
 protected:
  TaskLock() = default;
  ~TaskLock() = default;
  TaskLock(const TaskLock&) = delete;
  TaskLock& operator=(const TaskLock&) = delete;

  // First step of Start(): the Start call itself is the one activity.
  void Begin() {
    base::ScopedLock lock(lock_);
    if (phase_ != Phase::kCreated) return;
    phase_ = Phase::kRunning;
    inside_ = 1;
  }

  // Admits an asynchronous handler unless the task is finishing.
  bool Enter() {
    base::ScopedLock lock(lock_);
    if (phase_ != Phase::kRunning) return false;
    ++inside_;
    return true;
  }

  // The last activity to leave a finishing task aborts its sub-step.
  void Leave() {
    base::ScopedLock lock(lock_);
    --inside_;
    if (phase_ == Phase::kFinishing && inside_ == 0) static_cast<T*>(this)->Abort();
  }

  // The first finisher's result wins; with no activity inside, the sub-step
  // is aborted at once. Before Begin it does nothing.
  void Finish(R result) {
    base::ScopedLock lock(lock_);
    if (phase_ != Phase::kRunning) return;
    phase_ = Phase::kFinishing;
    static_cast<T*>(this)->result = result;
    if (inside_ == 0) static_cast<T*>(this)->Abort();
  }

  // True from Finish on (and before Begin): no new work may start.
  bool IsFinishing() {
    base::ScopedLock lock(lock_);
    return phase_ != Phase::kRunning;
  }

  // The one failure block every task step shares: logs `error` (a Win32
  // code) with `format` (one %u) under `context`, finishes with it as a
  // result, and answers false so that the step can return it.
  bool FinishWithWin32Error(ILogger* logger, const wchar_t* context, const wchar_t* format, DWORD error) {
    logger->Log(context, format, error);
    Finish(ResultFromWin32(static_cast<long>(error)));
    return false;
  }
  // The same with the calling thread's last error, read before anything else.
  bool FinishWithLastError(ILogger* logger, const wchar_t* context, const wchar_t* format) {
    return FinishWithWin32Error(logger, context, format, ::GetLastError());
  }

  // For tests and diagnostics, packed in one word: -1 created; bit 31 clear:
  // running with n activities inside; bit 31 set: finishing, bits 0-30 still
  // count the activities inside.
  long StateWord() {
    base::ScopedLock lock(lock_);
    if (phase_ == Phase::kCreated) return -1;
    unsigned long word = inside_ | (phase_ == Phase::kFinishing ? 0x80000000UL : 0);
    return static_cast<long>(word);
  }

 private:
  enum class Phase { kCreated, kRunning, kFinishing };

  base::CriticalSection lock_;
  Phase phase_ = Phase::kCreated;
  unsigned long inside_ = 0;  // activities inside: the Start call and handlers
};

}  // namespace stubframework::downloader::details
