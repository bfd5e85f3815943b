// The stub as the development flavour builds it (the product with the
// browser host), with the browser host tests' bundle and their test-only
// methods.
#include <windows.h>

#include <memory>

#include "app/application.h"
#include "browserhost/make_ui_host.h"
#include "browserhost/uihost_test_methods.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  return stubframework::app::RunStub(
      [](stubframework::app::Application* app) -> std::unique_ptr<stubframework::externalmethods::ExternalMethods> {
        return std::make_unique<testsupport::UiHostTestMethods>(app);
      },
      stubframework::browserhost::MakeUiHost);
}
