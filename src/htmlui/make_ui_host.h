// Start-up's choice of host: the MSHTML host window, unless the command line
// names a browser host harness with "uihost=127.0.0.1:PORT".
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "base/log.h"
#include "htmlui/ui_host.h"

namespace stubframework::htmlui {

class HtmlExternal;

// `args` as CommandLineToArgvW gives them, program name first. Null when
// "uihost=" names anything but a loopback address and port (logged): the run
// then shows no UI.
std::unique_ptr<UiHost> MakeUiHost(const std::vector<std::wstring>& args, HtmlExternal* bridge, base::Log* log);

}  // namespace stubframework::htmlui
