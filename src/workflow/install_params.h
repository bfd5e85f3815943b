// The installer's parameter string: how the install method builds it and how
// the install worker fills in its placeholders and reads its switches. Pure
// text functions.
#pragma once

#include <windows.h>
#include <msi.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace stubframework::workflow {

inline constexpr wchar_t kLogFilePlaceholder[] = L"$LOGFILE$";
inline constexpr wchar_t kStubPathPlaceholder[] = L"$STUBPATH$";
inline constexpr wchar_t kGuidPlaceholder[] = L"$GUID$";

// "DOWNLOADTIME=<seconds>": how long the last verified download took.
std::wstring DownloadTimeParam(int download_seconds);

// passthrough + " " + param + " " + download_time, then " /qn" when the stub
// itself runs silently.
std::wstring BuildInstallParams(const std::wstring& passthrough, const std::wstring& param,
                                const std::wstring& download_time, bool stub_silent);

// Whether an argument of `command_line` (split as CommandLineToArgvW splits:
// blanks separate, double quotes group and are dropped) equals `name`, both
// in upper case.
bool HasArgument(const std::wstring& command_line, const std::wstring& name);

// Parameters that keep the installer's own UI away ("/QN" or "/V/QN" as a
// whole argument); with any others the installer shows its UI and the stub's
// window goes away.
bool IsSilentInstall(const std::wstring& params);

// Replaces the first occurrence of `placeholder` (exact case); false when there is none.
bool ReplaceFirst(std::wstring& text, const std::wstring& placeholder, const std::wstring& value);

// `text` in double quotes.
std::wstring Quoted(const std::wstring& text);

// Removes every occurrence of `text` (case ignored) from its first character
// up to, not including, the next blank. What stands before it stays, a double
// quote included.
void RemoveSwitch(std::wstring& params, const std::wstring& text);

// Removing a quoted value's switch leaves its opening double quote standing
// alone, and the Windows Installer refuses a command line whose quotes do not
// pair (1639, measured). When the count is odd, removes the last double quote
// that stands as a word of its own; paired quotes are left alone.
void DropUnpairedQuote(std::wstring& params);

// LAUNCHONEXIT= in a parameter text: where its value starts and the value,
// which runs past the last double quote at or after that start to the next
// blank (or to the end); the quotes stay in the value.
struct LaunchOnExit {
  bool found = false;
  size_t position = 0;
  std::wstring value;
};
LaunchOnExit FindLaunchOnExit(const std::wstring& text);

// Puts `guid` in place of the first "$GUID$" of the first LAUNCHONEXIT= value.
// False when there is no such parameter; else *new_value is the value as it
// now stands in `params`.
bool ApplyLaunchOnExitGuid(std::wstring& params, const std::wstring& guid, std::wstring* new_value);

// How the Windows Installer is run for a parameter text.
struct MsiUiChoice {
  const wchar_t* removed_switch;  // taken out of the parameters; null for none
  INSTALLUILEVEL level;
  DWORD message_filter;  // what the external UI handler is sent
};
// "/QN" anywhere (case ignored): no UI, progress messages; else "/QF": full UI,
// terminate messages; else the default UI and no messages.
MsiUiChoice ChooseMsiUi(const std::wstring& params);

}  // namespace stubframework::workflow
