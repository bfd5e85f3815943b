// TaskLock<T, long>: the lock and state word that let a cancel or a failure
// meet work still running inside a task.
//
// state: -1 created; bit 31 clear: running with n activities inside; bit 31
// set: finishing, bits 0-30 still count the activities inside. T supplies a
// `result` member and Abort(), which makes the running sub-step end.
#pragma once

#include <windows.h>

namespace stubframework::downloader::details {

template <typename T, typename R>
class TaskLock {
 protected:
  TaskLock() { ::InitializeCriticalSection(&lock_); }
  ~TaskLock() { ::DeleteCriticalSection(&lock_); }
  TaskLock(const TaskLock&) = delete;
  TaskLock& operator=(const TaskLock&) = delete;

  static constexpr unsigned long kFinishing = 0x80000000UL;
  static constexpr unsigned long kCreated = 0xFFFFFFFFUL;

  // First step of Start(): the Start call itself is the one activity.
  void Begin() {
    ::EnterCriticalSection(&lock_);
    if (Word() == kCreated) SetWord(1);
    ::LeaveCriticalSection(&lock_);
  }

  // Admits an asynchronous handler unless the task is finishing.
  bool Enter() {
    ::EnterCriticalSection(&lock_);
    bool admitted = (Word() & kFinishing) == 0;
    if (admitted) SetWord(Word() + 1);
    ::LeaveCriticalSection(&lock_);
    return admitted;
  }

  // The last activity to leave a finishing task aborts its sub-step.
  void Leave() {
    ::EnterCriticalSection(&lock_);
    unsigned long old = Word();
    SetWord(old - 1);
    if (old == (kFinishing | 1)) static_cast<T*>(this)->Abort();
    ::LeaveCriticalSection(&lock_);
  }

  // The first finisher's result wins; with no activity inside, the sub-step
  // is aborted at once.
  void Finish(R result) {
    ::EnterCriticalSection(&lock_);
    unsigned long old = Word();
    SetWord(old | kFinishing);
    if ((old & kFinishing) == 0) {
      static_cast<T*>(this)->result = result;
      if (old == 0) static_cast<T*>(this)->Abort();
    }
    ::LeaveCriticalSection(&lock_);
  }

  bool IsFinishing() {
    ::EnterCriticalSection(&lock_);
    bool finishing = (Word() & kFinishing) != 0;
    ::LeaveCriticalSection(&lock_);
    return finishing;
  }

  // For tests and diagnostics.
  long StateWord() {
    ::EnterCriticalSection(&lock_);
    long value = state;
    ::LeaveCriticalSection(&lock_);
    return value;
  }

 private:
  unsigned long Word() const { return static_cast<unsigned long>(state); }
  void SetWord(unsigned long value) { state = static_cast<long>(value); }

  CRITICAL_SECTION lock_;

 protected:
  long state = -1;
};

}  // namespace stubframework::downloader::details
