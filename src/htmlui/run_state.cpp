#include "htmlui/run_state.h"

namespace stubframework::htmlui {

size_t RunState::StopAndJoin(DWORD limit_ms) {
  // The search reads only its flag, not the stop event.
  keep_searching_ = false;
  return workers_.StopAndJoin(limit_ms);
}

}  // namespace stubframework::htmlui
