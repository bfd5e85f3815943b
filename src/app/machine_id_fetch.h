// The machine identifier, computed on a thread of its own while start-up goes
// on: its WMI query, adapter listing and store take tens of milliseconds
// (hundreds on a cold WMI service) that nothing before the first report needs.
//
// States: computing (the thread runs) -> done (the thread has ended; the value
// never changes again). Threads: the constructor starts the one thread, which
// runs the computation in the multithreaded apartment (an apartment of its own
// kind: it would otherwise make the process's first window here); Get may be
// called from any thread and waits for the end; the destructor waits for it
// too, so the thread never outlives its owner.
#pragma once

#include <windows.h>

#include <string>

#include "base/unique_handle.h"

namespace stubframework::app {

class MachineIdFetch {
 public:
  using Compute = std::wstring (*)();
  // `compute` runs on the fetch's thread (inline when no thread can be made).
  explicit MachineIdFetch(Compute compute);
  ~MachineIdFetch();
  MachineIdFetch(const MachineIdFetch&) = delete;
  MachineIdFetch& operator=(const MachineIdFetch&) = delete;

  // The identifier, once computed.
  const std::wstring& Get();

 private:
  static DWORD WINAPI Run(void* self);
  void ComputeInMta();

  Compute compute_;
  std::wstring value_;
  base::UniqueHandle thread_;
};

}  // namespace stubframework::app
