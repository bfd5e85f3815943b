// The UI host factory of development builds: the MSHTML host window, unless
// the command line names a browser host harness with "uihost=127.0.0.1:PORT".
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "base/log.h"
#include "htmlui/ui_host.h"

namespace stubframework::browserhost {

// An htmlui::UiHostFactory. Null when "uihost=" names anything but a loopback
// address and port (logged): the run then shows no UI.
std::unique_ptr<htmlui::UiHost> MakeUiHost(const std::vector<std::wstring>& args, htmlui::HtmlExternal* bridge,
                                           base::Log* log);

// Reads the harness's secret from the environment and removes it there, so
// that no program this process starts inherits it. Empty when absent or
// longer than a secret can be.
std::string TakeUiHostToken();

}  // namespace stubframework::browserhost
