#include "workflow/maintenance_command.h"

#include <cwctype>

#include "base/wide_format.h"

namespace stubframework::workflow {

namespace {

constexpr wchar_t kUninstallRoot[] = L"HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
constexpr wchar_t kQuietSwitches[] = L" /qn /norestart /l*v \"";
constexpr wchar_t kNotInFileName[] = L"\\/:*?\"<>|";

bool IsHexDigit(wchar_t c) { return (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F'); }

std::wstring SafeNamePart(const std::wstring& name) {
  std::wstring safe = name;
  for (wchar_t& c : safe) {
    if (c < 0x20 || std::wcschr(kNotInFileName, c) != nullptr) c = L'_';
  }
  return safe;
}

}  // namespace

std::wstring BracedProductCode(const std::wstring& code) {
  return code.find(L'{') == std::wstring::npos ? L"{" + code + L"}" : code;
}

bool IsProductCode(const std::wstring& braced_code) {
  static const wchar_t kShape[] = L"{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}";
  if (braced_code.size() != ARRAYSIZE(kShape) - 1) return false;
  for (size_t i = 0; i < braced_code.size(); ++i) {
    bool ok = kShape[i] == L'x' ? IsHexDigit(braced_code[i]) : braced_code[i] == kShape[i];
    if (!ok) return false;
  }
  return true;
}

std::wstring UninstallKeyPath(const std::wstring& braced_code) { return kUninstallRoot + braced_code; }

std::wstring MaintenanceLogFolder(const std::wstring& temp_path, const std::wstring& product_id) {
  return temp_path + SafeNamePart(product_id) + L"_log\\";
}

std::wstring MaintenanceLogFile(const std::wstring& folder, const wchar_t* prefix, const std::wstring& name,
                                const SYSTEMTIME& utc) {
  return folder + prefix + SafeNamePart(name) + L"_" +
         base::Format(L"%4d%02d%02d%02d%02d%02d", utc.wYear, utc.wMonth, utc.wDay, utc.wHour, utc.wMinute,
                      utc.wSecond) +
         L".log";
}

std::wstring SystemMsiexec() {
  wchar_t system[MAX_PATH] = {};
  UINT length = ::GetSystemDirectoryW(system, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return std::wstring();
  return std::wstring(system, length) + L"\\msiexec.exe";
}

std::wstring RemoveCommandLine(const std::wstring& braced_code, const std::wstring& log_file) {
  const std::wstring msiexec = SystemMsiexec();
  if (msiexec.empty()) return std::wstring();
  return L"\"" + msiexec + L"\" /uninstall " + braced_code + kQuietSwitches + log_file + L"\"";
}

std::wstring RepairCommandLine(const std::wstring& braced_code, const std::wstring& log_file) {
  const std::wstring msiexec = SystemMsiexec();
  if (msiexec.empty()) return std::wstring();
  return L"\"" + msiexec + L"\" /f " + braced_code + kQuietSwitches + log_file + L"\"";
}

bool UsesOwnUninstallString(const std::wstring& uninstall_string) {
  return !uninstall_string.empty() && uninstall_string.find(kWindowsInstallerUninstall) == std::wstring::npos;
}

std::wstring OwnUninstallCommandLine(const std::wstring& uninstall_string, const std::wstring& log_file) {
  // kQuietSwitches without its leading blank.
  return uninstall_string + (kQuietSwitches + 1) + log_file + L"\"";
}

}  // namespace stubframework::workflow
