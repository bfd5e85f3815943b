// The development flavour of the product: the same entry sequence, method
// table and bundle, with a UI host that can also show the pages in a browser
// ("uihost=127.0.0.1:PORT"). For demos and end-to-end tests; never shipped.
#include <windows.h>

#include "app/application.h"
#include "browserhost/make_ui_host.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  return stubframework::app::RunStub(stubframework::app::MakeProductMethods, stubframework::browserhost::MakeUiHost);
}
