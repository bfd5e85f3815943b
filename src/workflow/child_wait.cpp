#include "workflow/child_wait.h"

namespace stubframework::workflow {

bool WaitForChild(HANDLE process, HANDLE stop, DWORD tick_ms, const std::function<void()>& on_tick) {
  const HANDLE handles[2] = {process, stop};
  const DWORD count = stop != nullptr ? 2 : 1;
  for (;;) {
    const DWORD woke = ::WaitForMultipleObjects(count, handles, FALSE, tick_ms);
    if (woke == WAIT_OBJECT_0 + 1) return false;
    if (woke != WAIT_TIMEOUT) return true;
    if (on_tick) on_tick();
  }
}

}  // namespace stubframework::workflow
