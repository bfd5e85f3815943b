#include "workflow/bridge_download_host.h"

namespace stubframework::workflow {

utils::DownloadHost BridgeDownloadHost(const WorkerHost& worker, base::LockedProperties* properties) {
  utils::DownloadHost host;
  host.log = worker.log;
  host.properties = properties;
  host.release_key = worker.release_key;
  htmlui::HtmlExternal* bridge = worker.bridge;
  host.cancel_requested = [bridge] { return bridge != nullptr && bridge->cancel(); };
  host.size_query = [bridge] { return bridge != nullptr && bridge->size_query(); };
  return host;
}

}  // namespace stubframework::workflow
