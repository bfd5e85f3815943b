// The engine's HRESULT-style results: negative on failure.
#pragma once

#include <windows.h>

namespace stubframework::downloader {

inline constexpr long kResultOk = 0;
inline constexpr long kResultAbort = static_cast<long>(0x80004004);        // E_ABORT
inline constexpr long kResultFail = static_cast<long>(0x80004005);         // E_FAIL
inline constexpr long kResultOutOfMemory = static_cast<long>(0x8007000E);  // E_OUTOFMEMORY
// From WinINet errors 12017 (operation cancelled), 12027 (incorrect format),
// 12004 (internal error) and 12005 (invalid URL).
inline constexpr long kResultHttpCancelled = static_cast<long>(0x80072EF1);
inline constexpr long kResultBadFormat = static_cast<long>(0x80072EFB);
inline constexpr long kResultShortRead = static_cast<long>(0x80072EE4);
inline constexpr long kResultInvalidUrl = static_cast<long>(0x80072EE5);
inline constexpr long kResultDiskFull = static_cast<long>(0x80070070);
// A block that kept failing its hash, download after download: the file on
// the server is not the one its meta describes (CRYPT_E_HASH_VALUE). A
// damaged file, not a failed connection: fetching again will not help.
inline constexpr long kResultBlockUnverifiable = static_cast<long>(0x80091007);
// HRESULT of ERROR_REPARSE_POINT_ENCOUNTERED: the download's target is a link
// (a symbolic link or a junction), which the elevated stub never writes through.
inline constexpr long kResultTargetIsLink = static_cast<long>(0x8007112B);
// INET_E_REDIRECT_FAILED: too many hops, or a hop that leaves TLS. Both paths
// answer it; another attempt would only repeat the same hops.
inline constexpr long kResultRedirectFailed = static_cast<long>(0x800C0014);

// A Win32 error e > 0 becomes 0x80070000 | (e & 0xFFFF); 0 and negative
// values pass unchanged.
inline long ResultFromWin32(long error) {
  if (error <= 0) return error;
  return static_cast<long>(0x80070000UL | (static_cast<unsigned long>(error) & 0xFFFFUL));
}

}  // namespace stubframework::downloader
