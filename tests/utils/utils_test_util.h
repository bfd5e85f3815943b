// A property store and host for the blocking helpers, as the download worker
// builds them from the application and the script bridge.
#pragma once

#include <atomic>

#include "base/critical_section.h"
#include "base/property_bag.h"
#include "utils/download_host.h"

namespace testsupport {

class TestHost {
 public:
  TestHost() : properties_(bag_, lock_) {
    host_.properties = &properties_;
    host_.cancel_requested = [this] { return cancel.load(); };
    host_.size_query = [this] { return size_query.load(); };
  }
  const stubframework::utils::DownloadHost& host() const { return host_; }
  stubframework::base::LockedProperties& properties() { return properties_; }

  std::atomic<bool> cancel{false};
  std::atomic<bool> size_query{false};

 private:
  stubframework::base::PropertyBag bag_;
  stubframework::base::CriticalSection lock_;
  stubframework::base::LockedProperties properties_;
  stubframework::utils::DownloadHost host_;
};

}  // namespace testsupport
