#include "telemetry/service_endpoint.h"

#include "identity/product_identity.h"

namespace stubframework::telemetry {

Services BuiltInServices() {
  Services services;
  services.telemetry = {identity::kTelemetryHost, identity::kTelemetryPort, true};
  services.collector = {identity::kPageviewHost, identity::kPageviewPort, false};
  return services;
}

}  // namespace stubframework::telemetry
