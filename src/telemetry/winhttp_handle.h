// Owner of a WinHTTP handle (session, connection or request).
#pragma once

#include <windows.h>
#include <winhttp.h>

#include "base/unique_handle.h"

namespace stubframework::telemetry {

struct WinHttpHandleTraits {
  using Type = HINTERNET;
  static Type Invalid() { return nullptr; }
  static bool IsValid(Type h) { return h != nullptr; }
  static void Close(Type h) { ::WinHttpCloseHandle(h); }
};

using UniqueWinHttp = base::UniqueResource<WinHttpHandleTraits>;

// A service that does not answer must not hold the run (reports and the
// pageview are sent on the UI thread): resolve and connect get 5 s, sending
// and receiving 10 s each.
inline void SetServiceTimeouts(HINTERNET session) {
  ::WinHttpSetTimeouts(session, 5000, 5000, 10000, 10000);
}

}  // namespace stubframework::telemetry
