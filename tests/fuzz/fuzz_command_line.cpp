// The command-line queries: the input, as UTF-16 code units (two bytes each),
// is the raw command line and, split at NUL, the argument vector. Every query
// answers; what it returns is a piece of its input.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "app/argument_queries.h"

namespace app = stubframework::app;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::wstring raw;
  for (size_t i = 0; i + 1 < size; i += 2) raw.push_back(static_cast<wchar_t>(data[i] | (data[i + 1] << 8)));
  app::ArgumentVector args(1);
  for (wchar_t c : raw) {
    if (c == L'\0') {
      args.emplace_back();
    } else {
      args.back().push_back(c);
    }
  }
  const std::wstring named = app::GetNamedArgument(args, L"shortcut");
  if (!named.empty() && raw.find(named) == std::wstring::npos) abort();
  app::IsWorkingCopy(args);
  app::IsSkipSelfUpdate(args);
  app::IsSilentLaunch(args);
  std::wstring path;
  if (app::GetShortcutPath(args, path) && raw.find(path) == std::wstring::npos) abort();
  std::wstring mode;
  if (app::GetUninstallMode(args, mode) && mode != L"uninstall" && mode != L"modify") abort();
  const int resume = app::GetResumeMode(args);
  if (resume < 0 || resume > 2) abort();
  app::PassthroughText(raw);
  const std::wstring tail = app::CommandLineTail(raw);
  if (tail.size() > raw.size() || raw.compare(raw.size() - tail.size(), tail.size(), tail) != 0) abort();
  return 0;
}
