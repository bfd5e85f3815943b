#include "browserhost/ui_host_endpoint.h"

namespace stubframework::browserhost {

namespace {

constexpr uint32_t kLoopbackNet = 127;

// A decimal number of 1 to `max_digits` digits, no sign, no blanks.
bool ReadNumber(const std::wstring& text, size_t* pos, size_t max_digits, uint32_t* value) {
  size_t start = *pos;
  uint32_t n = 0;
  while (*pos < text.size() && text[*pos] >= L'0' && text[*pos] <= L'9' && *pos - start < max_digits) {
    n = n * 10 + static_cast<uint32_t>(text[*pos] - L'0');
    ++*pos;
  }
  if (*pos == start) return false;
  *value = n;
  return true;
}

}  // namespace

bool ParseUiHostEndpoint(const std::wstring& text, UiHostEndpoint* endpoint) {
  size_t pos = 0;
  uint32_t address = 0;
  for (int part = 0; part < 4; ++part) {
    uint32_t octet = 0;
    if (!ReadNumber(text, &pos, 3, &octet) || octet > 255) return false;
    if (part == 0 && octet != kLoopbackNet) return false;
    address = (address << 8) | octet;
    const wchar_t separator = part < 3 ? L'.' : L':';
    if (pos >= text.size() || text[pos] != separator) return false;
    ++pos;
  }
  uint32_t port = 0;
  if (!ReadNumber(text, &pos, 5, &port) || pos != text.size() || port == 0 || port > 65535) return false;
  endpoint->address = address;
  endpoint->port = static_cast<uint16_t>(port);
  return true;
}

UiHostChoice ChooseUiHost(const std::vector<std::wstring>& args, UiHostEndpoint* endpoint) {
  const std::wstring prefix = std::wstring(kUiHostArgument) + L"=";
  for (size_t i = 1; i < args.size(); ++i) {
    if (args[i].compare(0, prefix.size(), prefix) != 0) continue;
    return ParseUiHostEndpoint(args[i].substr(prefix.size()), endpoint) ? UiHostChoice::kBrowser
                                                                         : UiHostChoice::kRefused;
  }
  return UiHostChoice::kMshtml;
}

}  // namespace stubframework::browserhost
