#include "base/log.h"
#include "htmlui/make_ui_host.h"

#include <windows.h>

#include "htmlui/browser_ui_host.h"
#include "htmlui/mshtml_ui_host.h"
#include "htmlui/ui_host_endpoint.h"
#include "htmlui/utf8_text.h"

namespace stubframework::htmlui {

namespace {

std::string TokenFromEnvironment() {
  wchar_t buffer[256] = {};
  DWORD size = ::GetEnvironmentVariableW(kUiHostTokenVariable, buffer, ARRAYSIZE(buffer));
  if (size == 0 || size >= ARRAYSIZE(buffer)) return std::string();
  return ToUtf8(std::wstring(buffer, size));
}

}  // namespace

std::unique_ptr<UiHost> MakeUiHost(const std::vector<std::wstring>& args, HtmlExternal* bridge, base::Log* log) {
  UiHostEndpoint endpoint;
  switch (ChooseUiHost(args, &endpoint)) {
    case UiHostChoice::kMshtml:
      return std::make_unique<MshtmlUiHost>(bridge);
    case UiHostChoice::kBrowser:
      return std::make_unique<BrowserUiHost>(bridge, endpoint, TokenFromEnvironment(), log);
    case UiHostChoice::kRefused:
      break;
  }
  if (log != nullptr) log->Error(L"UI host: refused, only %s=127.x.x.x:PORT is accepted", kUiHostArgument);
  return nullptr;
}

}  // namespace stubframework::htmlui
