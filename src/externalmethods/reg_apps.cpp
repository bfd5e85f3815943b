#include "externalmethods/reg_apps.h"

#include <windows.h>
#include <shellapi.h>
#include <shlwapi.h>

#include <cwchar>

#include "base/unique_handle.h"
#include "identity/product_identity.h"
#include "workflow/resume_manager.h"

namespace stubframework::externalmethods {

namespace {

constexpr wchar_t kSoftware[] = L"Software";
constexpr wchar_t kRegAppPrefix[] = L"regApp";
constexpr DWORD kMaxNameChars = 50;
constexpr DWORD kMaxDataBytes = 2000;

bool IsBlank(const std::wstring& text) { return text.find_first_not_of(L" \t") == std::wstring::npos; }

}  // namespace

std::wstring RegAppsRecordKey(const std::wstring& launch_on_exit) { return kSoftware + launch_on_exit; }

std::wstring RegAppsParentKey(const std::wstring& record_key, const std::wstring& guid) {
  size_t at = guid.empty() ? std::wstring::npos : record_key.find(guid);
  if (at == std::wstring::npos || at == 0) return kSoftware;
  return record_key.substr(0, at - 1);
}

bool MayDeleteRegAppsKey(const std::wstring& record_key, const std::wstring& guid) {
  if (!workflow::IsGuidText(guid)) return false;
  size_t at = record_key.find(guid);
  if (at == std::wstring::npos) return true;
  const size_t end = at + guid.size();
  return at > 0 && record_key[at - 1] == L'\\' && (end == record_key.size() || record_key[end] == L'\\');
}

bool IsOwnRegAppsKey(const std::wstring& record_key, const std::wstring& guid) {
  const std::wstring own = std::wstring(kSoftware) + L"\\" + identity::kPublisher + L"\\";
  if (record_key.size() <= own.size() || _wcsnicmp(record_key.c_str(), own.c_str(), own.size()) != 0) return false;
  return MayDeleteRegAppsKey(record_key, guid) && record_key.find(guid) != std::wstring::npos;
}

std::vector<std::wstring> ReadRegApps(const std::wstring& record_key) {
  std::vector<std::wstring> commands;
  base::UniqueHKey key;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, record_key.c_str(), 0, KEY_READ | KEY_WOW64_32KEY, key.Receive()) !=
      ERROR_SUCCESS) {
    return commands;
  }
  for (DWORD index = 0;; ++index) {
    wchar_t name[kMaxNameChars + 1] = {};
    DWORD name_chars = kMaxNameChars + 1;
    // Two zero characters more than the data may hold: the text always ends.
    wchar_t data[kMaxDataBytes / sizeof(wchar_t) + 2] = {};
    DWORD data_bytes = kMaxDataBytes;
    DWORD type = 0;
    LONG result = ::RegEnumValueW(key.Get(), index, name, &name_chars, nullptr, &type, reinterpret_cast<BYTE*>(data),
                                  &data_bytes);
    if (result == ERROR_MORE_DATA) continue;  // a name or data too long
    if (result != ERROR_SUCCESS) break;       // the end, or the key went away
    if (wcsncmp(name, kRegAppPrefix, wcslen(kRegAppPrefix)) != 0) continue;
    if (type != REG_SZ && type != REG_EXPAND_SZ) continue;
    commands.emplace_back(data);
  }
  return commands;
}

bool DeleteRegAppsKey(const std::wstring& parent_key, const std::wstring& guid) {
  base::UniqueHKey parent;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, parent_key.c_str(), 0, KEY_ALL_ACCESS | KEY_WOW64_32KEY,
                      parent.Receive()) != ERROR_SUCCESS) {
    return false;
  }
  return ::SHDeleteKeyW(parent.Get(), guid.c_str()) == ERROR_SUCCESS;
}

bool SplitRegAppCommand(const std::wstring& command_line, RegAppCommand* command) {
  // CommandLineToArgvW makes this program's own path of an empty text.
  if (IsBlank(command_line)) return false;
  int count = 0;
  LPWSTR* args = ::CommandLineToArgvW(command_line.c_str(), &count);
  if (args == nullptr) return false;
  command->file = count > 0 ? args[0] : L"";
  command->parameters.clear();
  for (int i = 1; i < count; ++i) command->parameters += std::wstring(L" ") + args[i];
  ::LocalFree(args);
  return !command->file.empty();
}

bool StartRegApp(base::Log* log, const std::wstring& command_line) {
  RegAppCommand command;
  bool started = false;
  if (SplitRegAppCommand(command_line, &command)) {
    base::LogDebug(log, L"%s", command.parameters.c_str());
    SHELLEXECUTEINFOW info = {};
    info.cbSize = sizeof(info);
    info.fMask = SEE_MASK_NOCLOSEPROCESS;
    info.lpVerb = L"runas";
    info.lpFile = command.file.c_str();
    info.lpParameters = command.parameters.c_str();
    info.nShow = SW_SHOW;
    started = ::ShellExecuteExW(&info) != FALSE;
    // Not waited for.
    if (info.hProcess != nullptr) ::CloseHandle(info.hProcess);
  }
  base::LogDebug(log, L"EMStartRegApps: %s with result %s", command_line.c_str(), started ? L"success" : L"failed");
  return started;
}

}  // namespace stubframework::externalmethods
