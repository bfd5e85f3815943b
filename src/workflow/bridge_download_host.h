// The blocking download helpers' view of the application: its log, the
// property store under the method table's lock, and the run's cancel (the
// page's stop or the closing run) and size-query flags.
#pragma once

#include "base/property_bag.h"
#include "utils/download_host.h"
#include "workflow/worker_host.h"

namespace stubframework::workflow {

// `properties` must outlive the host.
utils::DownloadHost BridgeDownloadHost(const WorkerHost& worker, base::LockedProperties* properties);

}  // namespace stubframework::workflow
