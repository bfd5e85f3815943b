#include "externalmethods/worker_host_of.h"

namespace stubframework::externalmethods {

workflow::WorkerHost WorkerHostOf(ExternalMethods& methods) {
  workflow::WorkerHost worker;
  worker.log = methods.log();
  worker.bridge = methods.bridge();
  worker.lock = &methods.lock();
  if (MethodHost* host = methods.host()) {
    worker.store = &host->properties();
    worker.settings_key = host->settings_key();
    worker.download_folders = host->download_folders();
  }
  return worker;
}

}  // namespace stubframework::externalmethods
