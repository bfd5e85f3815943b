// The text of a removal or repair: the product code as msiexec and the
// uninstall key take it, the maintenance log file's name, and the command
// lines. Pure functions.
#pragma once

#include <windows.h>

#include <string>

namespace stubframework::workflow {

inline constexpr wchar_t kRemoveLogPrefix[] = L"remove_";
inline constexpr wchar_t kRepairLogPrefix[] = L"repair_";

// An UninstallString holding this (case-sensitive) is the Windows Installer's
// own entry, replaced by the msiexec form.
inline constexpr wchar_t kWindowsInstallerUninstall[] = L"MsiExec.exe";

// "{" + code + "}" unless the code holds a "{" already.
std::wstring BracedProductCode(const std::wstring& code);

// Whether a braced code is a GUID ({8-4-4-4-12} hexadecimal digits). A code
// from the page goes into a command line and a registry path; anything else
// could carry further switches or name another key.
bool IsProductCode(const std::wstring& braced_code);

// "HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\" + braced code.
std::wstring UninstallKeyPath(const std::wstring& braced_code);

// "<product id>_log\" under the temporary folder (which ends in a backslash).
std::wstring MaintenanceLogFolder(const std::wstring& temp_path, const std::wstring& product_id);

// folder + prefix + name + "_" + UTC time as 14 digits + ".log". Characters a
// file name cannot hold (separators, wildcards, quotes, control characters)
// become "_", so the page's name cannot place the log elsewhere.
std::wstring MaintenanceLogFile(const std::wstring& folder, const wchar_t* prefix, const std::wstring& name,
                                const SYSTEMTIME& utc);

// "<system folder>\msiexec.exe": by full path, so that an msiexec.exe beside
// the stub or in the current folder is never the one started elevated.
// Empty when the system folder is unknown.
std::wstring SystemMsiexec();

// "<system msiexec>" /uninstall {code} /qn /norestart /l*v "<log>"; empty
// without a system folder (nothing is started then).
std::wstring RemoveCommandLine(const std::wstring& braced_code, const std::wstring& log_file);
// "<system msiexec>" /f {code} /qn /norestart /l*v "<log>"; empty likewise.
std::wstring RepairCommandLine(const std::wstring& braced_code, const std::wstring& log_file);

// Whether the product's own UninstallString is run instead of the msiexec form.
bool UsesOwnUninstallString(const std::wstring& uninstall_string);
// The UninstallString with the quiet switches appended as they are, without a
// blank between: the entry is expected to end in one.
std::wstring OwnUninstallCommandLine(const std::wstring& uninstall_string, const std::wstring& log_file);

}  // namespace stubframework::workflow
