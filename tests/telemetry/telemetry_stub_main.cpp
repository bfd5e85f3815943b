// The product's entry sequence with the telemetry service and the pageview
// collector the tests name in the environment: STUB_TEST_TELEMETRY and
// STUB_TEST_COLLECTOR, each "host:port" (absent: not configured). A test
// program only; the product's addresses are fixed when it is built.
#include <windows.h>

#include <cwchar>
#include <string>

#include "app/application.h"
#include "externalmethods/product/my_external_methods.h"

namespace {

stubframework::telemetry::ServiceEndpoint EndpointFrom(const wchar_t* variable, bool secure) {
  stubframework::telemetry::ServiceEndpoint endpoint;
  endpoint.secure = secure;
  wchar_t value[256] = {};
  DWORD length = ::GetEnvironmentVariableW(variable, value, 256);
  if (length == 0 || length >= 256) return endpoint;
  std::wstring text(value, length);
  size_t colon = text.rfind(L':');
  if (colon == std::wstring::npos) return endpoint;
  unsigned long port = std::wcstoul(text.c_str() + colon + 1, nullptr, 10);
  if (port == 0 || port > 65535) return endpoint;
  endpoint.host = text.substr(0, colon);
  endpoint.port = static_cast<unsigned short>(port);
  return endpoint;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  stubframework::telemetry::Services services;
  services.telemetry = EndpointFrom(L"STUB_TEST_TELEMETRY", true);
  services.collector = EndpointFrom(L"STUB_TEST_COLLECTOR", false);
  return stubframework::app::RunStub(
      [](stubframework::app::Application* app) -> std::unique_ptr<stubframework::externalmethods::ExternalMethods> {
        return std::make_unique<stubframework::externalmethods::MyExternalMethods>(app);
      },
      stubframework::htmlui::MakeMshtmlUiHost, services);
}
