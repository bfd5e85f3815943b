#include "externalmethods/worker_host_of.h"

namespace stubframework::externalmethods {

htmlui::RunState* RunStateOf(ExternalMethods& methods) {
  htmlui::HtmlExternal* bridge = methods.bridge();
  return bridge != nullptr ? bridge->run() : nullptr;
}

workflow::WorkerHost WorkerHostOf(ExternalMethods& methods) {
  workflow::WorkerHost worker;
  worker.log = methods.log();
  worker.bridge = methods.bridge();
  worker.run = RunStateOf(methods);
  worker.lock = &methods.lock();
  worker.release_key = trust::ProductReleaseKey();
  if (RunStore* store = methods.store()) {
    worker.store = &store->properties();
    worker.settings_key = store->settings_key();
    worker.download_folders = store->download_folders();
    worker.release_key = store->release_key();
  }
  return worker;
}

}  // namespace stubframework::externalmethods
