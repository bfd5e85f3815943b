// What a worker thread reaches of the application: its log, the run's state
// (stop event, cancel and size-query flags, last installer result), the
// bridge (extraction progress), the property store under the method table's
// lock, and the settings key. The script method that starts the worker fills
// it; the application joins every worker before any of these goes.
#pragma once

#include <string>

#include "base/critical_section.h"
#include "base/log.h"
#include "base/property_bag.h"
#include "htmlui/html_external.h"
#include "htmlui/run_state.h"
#include "trust/release_key.h"
#include "workflow/package_folders.h"

namespace stubframework::workflow {

struct WorkerHost {
  base::Log* log = nullptr;
  htmlui::HtmlExternal* bridge = nullptr;
  htmlui::RunState* run = nullptr;  // may be null where no run owns the work (a size query's test)
  base::PropertyBag* store = nullptr;     // with `lock`, must outlive the worker
  base::CriticalSection* lock = nullptr;
  std::wstring settings_key;
  // Where the run records the folders its downloads wrote into; may be null.
  DownloadFolders* download_folders = nullptr;
  // What downloads, installs and the self-update must be signed with; none:
  // downloads are checked against their .meta only.
  trust::ReleaseKey release_key;

  base::LockedProperties properties() const { return base::LockedProperties(*store, *lock); }
  // The run's stop event: set once the application closes; null without a run.
  HANDLE stop_event() const { return run != nullptr ? run->stop_event() : nullptr; }
  bool stopping() const { return run != nullptr && run->stopping(); }
};

}  // namespace stubframework::workflow
