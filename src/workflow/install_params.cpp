#include "workflow/install_params.h"

#include <shellapi.h>

#include <algorithm>
#include <cwctype>

#include "base/wide_format.h"

namespace stubframework::workflow {

namespace {

constexpr wchar_t kLaunchOnExit[] = L"LAUNCHONEXIT=";
constexpr wchar_t kSilentSwitch[] = L"/QN";
constexpr wchar_t kVerboseSilentSwitch[] = L"/V/QN";
constexpr wchar_t kFullUiSwitch[] = L"/QF";

std::wstring Lower(std::wstring text) {
  std::transform(text.begin(), text.end(), text.begin(), [](wchar_t c) { return std::towlower(c); });
  return text;
}

std::wstring Upper(std::wstring text) {
  std::transform(text.begin(), text.end(), text.begin(), [](wchar_t c) { return std::towupper(c); });
  return text;
}

bool ContainsNoCase(const std::wstring& text, const std::wstring& part) {
  return Lower(text).find(Lower(part)) != std::wstring::npos;
}

}  // namespace

std::wstring DownloadTimeParam(int download_seconds) { return base::Format(L"DOWNLOADTIME=%d", download_seconds); }

std::wstring BuildInstallParams(const std::wstring& passthrough, const std::wstring& param,
                                const std::wstring& download_time, bool stub_silent) {
  std::wstring params = passthrough + L" " + param + L" " + download_time;
  if (stub_silent) params += L" /qn";
  return params;
}

bool HasArgument(const std::wstring& command_line, const std::wstring& name) {
  int count = 0;
  LPWSTR* args = ::CommandLineToArgvW(command_line.c_str(), &count);
  if (args == nullptr) return false;
  const std::wstring wanted = Upper(name);
  bool found = false;
  for (int i = 0; i < count && !found; ++i) found = Upper(args[i]) == wanted;
  ::LocalFree(args);
  return found;
}

bool IsSilentInstall(const std::wstring& params) {
  return HasArgument(params, kSilentSwitch) || HasArgument(params, kVerboseSilentSwitch);
}

bool ReplaceFirst(std::wstring& text, const std::wstring& placeholder, const std::wstring& value) {
  size_t at = text.find(placeholder);
  if (placeholder.empty() || at == std::wstring::npos) return false;
  text.replace(at, placeholder.size(), value);
  return true;
}

std::wstring Quoted(const std::wstring& text) { return L"\"" + text + L"\""; }

void RemoveSwitch(std::wstring& params, const std::wstring& text) {
  if (text.empty()) return;
  const std::wstring needle = Lower(text);
  // One lower-case copy kept in step with the text.
  std::wstring lower = Lower(params);
  size_t from = 0;
  for (;;) {
    size_t at = lower.find(needle, from);
    if (at == std::wstring::npos) return;
    size_t end = params.find(L' ', at);
    size_t count = end == std::wstring::npos ? std::wstring::npos : end - at;
    params.erase(at, count);
    lower.erase(at, count);
    from = at;
  }
}

void DropUnpairedQuote(std::wstring& params) {
  if (std::count(params.begin(), params.end(), L'"') % 2 == 0) return;
  for (size_t at = params.size(); at-- > 0;) {
    if (params[at] != L'"') continue;
    bool starts_word = at == 0 || params[at - 1] == L' ';
    bool ends_word = at + 1 == params.size() || params[at + 1] == L' ';
    if (starts_word && ends_word) {
      params.erase(at, 1);
      return;
    }
  }
}

LaunchOnExit FindLaunchOnExit(const std::wstring& text) {
  LaunchOnExit result;
  size_t key = text.find(kLaunchOnExit);
  if (key == std::wstring::npos) return result;
  result.found = true;
  result.position = key + ARRAYSIZE(kLaunchOnExit) - 1;
  size_t last_quote = text.rfind(L'"');
  size_t from = (last_quote != std::wstring::npos && last_quote >= result.position) ? last_quote : result.position;
  size_t end = text.find(L' ', from);
  result.value = text.substr(result.position, end == std::wstring::npos ? std::wstring::npos : end - result.position);
  return result;
}

bool ApplyLaunchOnExitGuid(std::wstring& params, const std::wstring& guid, std::wstring* new_value) {
  LaunchOnExit launch = FindLaunchOnExit(params);
  if (!launch.found) return false;
  std::wstring value = launch.value;
  ReplaceFirst(value, kGuidPlaceholder, guid);
  params.replace(launch.position, launch.value.size(), value);
  *new_value = value;
  return true;
}

MsiUiChoice ChooseMsiUi(const std::wstring& params) {
  if (ContainsNoCase(params, kSilentSwitch)) return {L"/qn", INSTALLUILEVEL_NONE, INSTALLLOGMODE_PROGRESS};
  if (ContainsNoCase(params, kFullUiSwitch)) return {L"/qf", INSTALLUILEVEL_FULL, INSTALLLOGMODE_TERMINATE};
  return {nullptr, INSTALLUILEVEL_DEFAULT, 0};
}

}  // namespace stubframework::workflow
