#include "base/worker_set.h"

#include <algorithm>
#include <utility>

namespace stubframework::base {

namespace {

bool Ended(const UniqueHandle& thread) { return ::WaitForSingleObject(thread.Get(), 0) == WAIT_OBJECT_0; }

// Dispatches what is queued for this thread; false once WM_QUIT was taken
// (its code in *quit_code).
bool DispatchQueued(WPARAM* quit_code) {
  MSG message;
  while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {
      *quit_code = message.wParam;
      return false;
    }
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
  return true;
}

}  // namespace

WorkerSet::WorkerSet() : stop_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

WorkerSet::~WorkerSet() = default;

bool WorkerSet::Start(LPTHREAD_START_ROUTINE routine, void* job) {
  ScopedLock hold(lock_);
  if (!stop_) return false;
  if (stopping()) {
    ::SetLastError(ERROR_OPERATION_ABORTED);
    return false;
  }
  ForgetEnded();
  UniqueHandle thread(::CreateThread(nullptr, 0, routine, job, 0, nullptr));
  if (!thread) return false;
  threads_.push_back(std::move(thread));
  return true;
}

bool WorkerSet::stopping() const { return stop_ && ::WaitForSingleObject(stop_.Get(), 0) == WAIT_OBJECT_0; }

void WorkerSet::Stop() {
  if (stop_) ::SetEvent(stop_.Get());
}

size_t WorkerSet::running() {
  ScopedLock hold(lock_);
  ForgetEnded();
  return threads_.size();
}

void WorkerSet::ForgetEnded() {
  threads_.erase(std::remove_if(threads_.begin(), threads_.end(), Ended), threads_.end());
}

size_t WorkerSet::StopAndJoin(DWORD limit_ms) {
  Stop();
  const DWORD start = ::GetTickCount();
  bool quit_seen = false;
  WPARAM quit_code = 0;
  for (;;) {
    // A copy of the handles, so that the lock is not held while messages run
    // (a message may start a worker, which Start now refuses).
    std::vector<HANDLE> waiting;
    {
      ScopedLock hold(lock_);
      ForgetEnded();
      for (const UniqueHandle& thread : threads_) waiting.push_back(thread.Get());
    }
    const DWORD spent = ::GetTickCount() - start;
    if (waiting.empty() || spent >= limit_ms) break;
    // One thread at a time is enough: the loop comes back for the others.
    ::MsgWaitForMultipleObjects(1, &waiting.front(), FALSE, limit_ms - spent, QS_ALLINPUT);
    if (!DispatchQueued(&quit_code)) quit_seen = true;
  }
  if (quit_seen) ::PostQuitMessage(static_cast<int>(quit_code));
  return running();
}

}  // namespace stubframework::base
