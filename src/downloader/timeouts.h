// The engine's network timeouts, shared with the URL-moniker download.
#pragma once

#include <windows.h>

namespace stubframework::downloader {

inline constexpr DWORD kConnectTimeoutMs = 60000;
inline constexpr DWORD kSendTimeoutMs = 30000;
// Also how long a URL-moniker download may go without any event.
inline constexpr DWORD kReceiveTimeoutMs = 30000;

}  // namespace stubframework::downloader
