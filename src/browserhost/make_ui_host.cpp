#include "browserhost/make_ui_host.h"

#include <windows.h>

#include <utility>

#include "browserhost/browser_ui_host.h"
#include "browserhost/ui_host_endpoint.h"
#include "browserhost/utf8_text.h"
#include "htmlui/mshtml_ui_host.h"

namespace stubframework::browserhost {

std::string TakeUiHostToken() {
  wchar_t buffer[256] = {};
  DWORD size = ::GetEnvironmentVariableW(kUiHostTokenVariable, buffer, ARRAYSIZE(buffer));
  ::SetEnvironmentVariableW(kUiHostTokenVariable, nullptr);
  if (size == 0 || size >= ARRAYSIZE(buffer)) return std::string();
  return ToUtf8(std::wstring(buffer, size));
}

std::unique_ptr<htmlui::UiHost> MakeUiHost(const std::vector<std::wstring>& args, htmlui::HtmlExternal* bridge,
                                           base::Log* log) {
  // Taken whichever host is chosen: no started program may inherit it.
  std::string token = TakeUiHostToken();
  UiHostEndpoint endpoint;
  switch (ChooseUiHost(args, &endpoint)) {
    case UiHostChoice::kMshtml:
      return htmlui::MakeMshtmlUiHost(args, bridge, log);
    case UiHostChoice::kBrowser:
      return std::make_unique<BrowserUiHost>(bridge, endpoint, std::move(token), log);
    case UiHostChoice::kRefused:
      break;
  }
  base::LogError(log, L"UI host: refused, only %s=127.x.x.x:PORT is accepted", kUiHostArgument);
  return nullptr;
}

}  // namespace stubframework::browserhost
