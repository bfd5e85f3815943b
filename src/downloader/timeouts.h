// The engine's network timeouts, shared with the URL-moniker download.
#pragma once

#include <windows.h>

namespace stubframework::downloader {

inline constexpr DWORD kConnectTimeoutMs = 60000;
inline constexpr DWORD kSendTimeoutMs = 30000;
// Also how long a URL-moniker download may go without any event, and how long
// a body may stay silent before its connection counts as gone idle.
inline constexpr DWORD kReceiveTimeoutMs = 30000;
// The longest a file transfer may spend without a new byte, summed over the
// responses that went idle short of their length: past it the transfer ends
// instead of asking for the rest once more. Three idle waits.
inline constexpr DWORD kStalledTransferLimitMs = 3 * kReceiveTimeoutMs;

// What a file transfer waits for; tests shorten both.
struct TransferTimeouts {
  DWORD receive_ms = kReceiveTimeoutMs;
  DWORD stall_limit_ms = kStalledTransferLimitMs;
};

}  // namespace stubframework::downloader
