// How an installer or maintenance worker waits for the program it started:
// one tick at a time (the page's progress advances per tick), until the
// program ends or the run closes.
#pragma once

#include <windows.h>

#include <functional>

namespace stubframework::workflow {

// Waits for `process`, calling `on_tick` after every `tick_ms` it still runs.
// True when the process ended (or the wait failed, as the old loop took it);
// false when `stop` (may be null) was set first: the run is closing and the
// program goes on alone, unharmed, since ending an installer midway could
// leave the machine half changed.
bool WaitForChild(HANDLE process, HANDLE stop, DWORD tick_ms, const std::function<void()>& on_tick);

}  // namespace stubframework::workflow
