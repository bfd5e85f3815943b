// A body that stops short of its length on a connection that goes idle: how
// its end is recognised, and the budget of silence a transfer may spend on
// such bodies before it gives up instead of asking for the rest once more.
#pragma once

#include <windows.h>

#include "downloader/interfaces.h"

namespace stubframework::downloader {

// Results of a response that stopped before its length: the connection went
// silent past the receive timeout, or the peer dropped it. WinINet says so
// with its own codes; Wine passes the socket's on (WSAETIMEDOUT and kin).
bool IsBrokenConnection(long result);

// The silences of the responses that went idle, summed against a limit
// (timeouts.h). Not thread-safe: its task's handlers use it one at a time.
class StallBudget {
 public:
  explicit StallBudget(DWORD limit_ms) : limit_ms_(limit_ms) {}

  // At the start of the transfer, and whenever bytes arrive.
  void MarkProgress() { last_byte_ms_ = NowMs(); }
  // Adds the silence since the last bytes; false once the sum reaches the
  // limit (the transfer then ends).
  bool Spend();
  int64 spent_ms() const { return spent_ms_; }

 private:
  static int64 NowMs() { return static_cast<int64>(::GetTickCount64()); }

  DWORD limit_ms_;
  int64 last_byte_ms_ = 0;
  int64 spent_ms_ = 0;
};

}  // namespace stubframework::downloader
