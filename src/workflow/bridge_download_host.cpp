#include "workflow/bridge_download_host.h"

namespace stubframework::workflow {

utils::DownloadHost BridgeDownloadHost(const WorkerHost& worker, base::LockedProperties* properties) {
  utils::DownloadHost host;
  host.log = worker.log;
  host.properties = properties;
  host.release_key = worker.release_key;
  // The page's stop and the closing run both cancel (RunState::cancel).
  htmlui::RunState* run = worker.run;
  host.cancel_requested = [run] { return run != nullptr && run->cancel(); };
  host.size_query = [run] { return run != nullptr && run->size_query(); };
  return host;
}

}  // namespace stubframework::workflow
