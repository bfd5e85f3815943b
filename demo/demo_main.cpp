// The demo's executable: the development flavour of the product (the same
// entry sequence, method table and bundle, with the browser UI host) whose
// reports go to the demo's own telemetry service on this machine. The ports
// are settings of the build (STUB_DEMO_TELEMETRY_PORT, STUB_DEMO_COLLECTOR_PORT);
// the product's own addresses stay as configured. For scripts/demo.sh; never shipped.
#include <windows.h>

#include "app/application.h"
#include "browserhost/make_ui_host.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  stubframework::telemetry::Services services;
  // The service's certificate names "localhost": Wine refuses name checks against 127.0.0.1.
  services.telemetry = {L"localhost", STUB_DEMO_TELEMETRY_PORT, true};
  services.collector = {L"127.0.0.1", STUB_DEMO_COLLECTOR_PORT, false};
  return stubframework::app::RunStub(stubframework::app::MakeProductMethods, stubframework::browserhost::MakeUiHost,
                                     services);
}
