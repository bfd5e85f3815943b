// How the command line selects the browser host: the whole argument
// "uihost=127.0.0.1:PORT" names the harness to connect to. Only loopback
// addresses are accepted: the harness can reach window.external, which writes
// the registry and starts programs.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace stubframework::browserhost {

inline constexpr wchar_t kUiHostArgument[] = L"uihost";
// The harness's per-run secret, handed over in the environment (the command
// line of a process is readable by other users, its environment is not).
inline constexpr wchar_t kUiHostTokenVariable[] = L"UIHOST_TOKEN";

struct UiHostEndpoint {
  uint32_t address = 0;  // IPv4, host byte order, always in 127.0.0.0/8
  uint16_t port = 0;
};

enum class UiHostChoice {
  kMshtml,   // no "uihost=" argument
  kBrowser,  // a valid loopback endpoint
  kRefused,  // "uihost=" with anything else: no UI is shown
};

// Parses "A.B.C.D:PORT" with A = 127 and PORT 1..65535; names are refused,
// not resolved.
bool ParseUiHostEndpoint(const std::wstring& text, UiHostEndpoint* endpoint);

// Looks at every argument after the program name; the first "uihost=" decides.
UiHostChoice ChooseUiHost(const std::vector<std::wstring>& args, UiHostEndpoint* endpoint);

}  // namespace stubframework::browserhost
