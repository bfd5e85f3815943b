// The one reference a task keeps on its current sub-task. A cancel from
// another thread may meet the handler that replaces or drops the sub-task, so
// the pointer is read and written under a lock of its own, and a cancel holds
// a reference on the sub-task for the duration of the call.
#pragma once

#include <windows.h>

#include "base/critical_section.h"
#include "downloader/interfaces.h"

namespace stubframework::downloader::details {

class SubTaskSlot {
 public:
  SubTaskSlot() = default;
  ~SubTaskSlot() { Reset(); }
  SubTaskSlot(const SubTaskSlot&) = delete;
  SubTaskSlot& operator=(const SubTaskSlot&) = delete;

  // Takes over the caller's reference on `task` (may be null), dropping the
  // one held before.
  void Set(ITask* task) {
    ITask* old = nullptr;
    {
      base::ScopedLock lock(lock_);
      old = task_;
      task_ = task;
    }
    if (old != nullptr) old->Release();
  }

  void Reset() { Set(nullptr); }

  // Cancels the current sub-task, if there is one.
  void Cancel() {
    ITask* task = nullptr;
    {
      base::ScopedLock lock(lock_);
      task = task_;
      if (task != nullptr) task->AddRef();
    }
    if (task == nullptr) return;
    task->Cancel();
    task->Release();
  }

 private:
  base::CriticalSection lock_;
  ITask* task_ = nullptr;
};

}  // namespace stubframework::downloader::details
