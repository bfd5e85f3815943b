// Where reports and pageviews go. The product's addresses are build settings
// (BuiltInServices); tests give their own. An empty host means the service
// is not configured: nothing is sent and nothing is looked up.
#pragma once

#include <string>

namespace stubframework::telemetry {

struct ServiceEndpoint {
  std::wstring host;
  unsigned short port = 0;
  bool secure = true;

  bool configured() const { return !host.empty(); }
};

struct Services {
  ServiceEndpoint telemetry;  // HTTPS: the analytics, log, region and activity reports
  ServiceEndpoint collector;  // plain HTTP: the pageview post
};

// The addresses this build was configured with (STUB_TELEMETRY_HOST,
// STUB_TELEMETRY_PORT, STUB_PAGEVIEW_HOST, STUB_PAGEVIEW_PORT).
Services BuiltInServices();

}  // namespace stubframework::telemetry
