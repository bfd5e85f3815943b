// How far a download follows redirects, on the engine's requests and on the
// URL-moniker path alike: a loop or an endless chain ends the download instead
// of sending requests until someone kills the process.
#pragma once

#include <string>

namespace stubframework::downloader {

// Hops one download may take before it fails (what browsers allow, about).
inline constexpr int kMaxRedirects = 10;

// The statuses whose Location the engine follows by hand.
inline bool IsRedirectStatus(int status) {
  return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// Whether a hop from `from` to `to` leaves TLS (https -> anything else): the
// stub never lets a redirect drop the protection the first URL had.
bool IsSecurityDowngrade(const std::wstring& from, const std::wstring& to);

}  // namespace stubframework::downloader
