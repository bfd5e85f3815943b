#include "telemetry/service_endpoint.h"

#ifndef STUB_TELEMETRY_HOST
#define STUB_TELEMETRY_HOST ""
#endif
#ifndef STUB_TELEMETRY_PORT
#define STUB_TELEMETRY_PORT 443
#endif
#ifndef STUB_PAGEVIEW_HOST
#define STUB_PAGEVIEW_HOST ""
#endif
#ifndef STUB_PAGEVIEW_PORT
#define STUB_PAGEVIEW_PORT 80
#endif
#define STUB_WIDEN2(x) L##x
#define STUB_WIDEN(x) STUB_WIDEN2(x)

namespace stubframework::telemetry {

Services BuiltInServices() {
  Services services;
  services.telemetry = {STUB_WIDEN(STUB_TELEMETRY_HOST), STUB_TELEMETRY_PORT, true};
  services.collector = {STUB_WIDEN(STUB_PAGEVIEW_HOST), STUB_PAGEVIEW_PORT, false};
  return services;
}

}  // namespace stubframework::telemetry
