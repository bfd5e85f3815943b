// Owner of a WinHTTP handle (session, connection or request).
#pragma once

#include <windows.h>
#include <winhttp.h>

#include "base/unique_handle.h"

namespace stubframework::utils {

struct WinHttpHandleTraits {
  using Type = HINTERNET;
  static Type Invalid() { return nullptr; }
  static bool IsValid(Type h) { return h != nullptr; }
  static void Close(Type h) { ::WinHttpCloseHandle(h); }
};

using UniqueWinHttp = base::UniqueResource<WinHttpHandleTraits>;

// WinHTTP's own limits for each step, none longer than the whole exchange may
// take. They end a stalled socket early where WinHTTP honours them (Wine does
// not); the exchange's deadline holds either way.
inline void SetExchangeTimeouts(HINTERNET handle, DWORD deadline_ms) {
  const int ms = static_cast<int>(deadline_ms);
  ::WinHttpSetTimeouts(handle, ms, ms, ms, ms);
}

}  // namespace stubframework::utils
