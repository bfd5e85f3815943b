#include "workflow/bridge_download_host.h"

#include "app/application.h"
#include "externalmethods/external_methods.h"
#include "htmlui/html_external.h"

namespace stubframework::workflow {

utils::DownloadHost BridgeDownloadHost(ExternalMethods& methods, core::LockedProperties* properties) {
  utils::DownloadHost host;
  host.log = methods.app() != nullptr ? methods.app()->log() : nullptr;
  host.properties = properties;
  htmlui::HtmlExternal* bridge = methods.bridge();
  host.cancel_requested = [bridge] { return bridge != nullptr && bridge->cancel(); };
  host.size_query = [bridge] { return bridge != nullptr && bridge->size_query(); };
  return host;
}

}  // namespace stubframework::workflow
