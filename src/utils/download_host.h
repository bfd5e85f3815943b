// What the blocking download helpers need from the application: its log, the
// progress properties, and the script bridge's stop and size-query flags.
// The download worker fills it from the application and the bridge; every
// member may be left empty.
#pragma once

#include <windows.h>

#include <functional>

#include "base/log.h"
#include "trust/release_key.h"

namespace stubframework::base {
class LockedProperties;
}

namespace stubframework::utils {

// How often a blocking download looks at the stop flag while it waits:
// progress reports may never come (a stalled or silent server).
inline constexpr DWORD kStopPollMs = 100;

struct DownloadHost {
  base::Log* log = nullptr;                     // engine lines go here at trace level
  base::LockedProperties* properties = nullptr;     // "downloadTotal" / "downloadCurrent"
  std::function<bool()> cancel_requested;           // the bridge's cancel flag (stopDownload)
  std::function<bool()> size_query;                 // the bridge's size-query flag (initDownloadSize)
  // With a key, a verified download is used only when its .meta is signed.
  trust::ReleaseKey release_key;

  bool CancelRequested() const { return cancel_requested && cancel_requested(); }
  bool SizeQuery() const { return size_query && size_query(); }
};

// The pause between two attempts of a download; false when a stop request
// came before or during it (attempts that fail before any progress report
// never see one). Defined beside the verified download.
bool PauseUnlessStopped(const DownloadHost& host, DWORD pause_ms);

}  // namespace stubframework::utils
