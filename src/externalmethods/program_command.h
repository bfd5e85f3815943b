// The program of a command line a page asks to run. CreateProcessW given no
// application name tries each blank-separated prefix of an unquoted path in
// turn ("C:\Program Files\x.exe" may start "C:\Program.exe"), and a bare name
// is looked for beside the stub and in the current folder first. The program
// is therefore decided here, once, and handed to CreateProcessW by name.
#pragma once

#include <string>

namespace stubframework::externalmethods {

struct ProgramCommand {
  std::wstring application;   // a full path
  std::wstring command_line;  // "<application>" in quotes + the arguments as given
};

// Splits off the program as the system's argument rules read it (quoted: up
// to the closing quote; unquoted: up to the first blank or tab, never more).
// A full path ("X:\..." or "\\server\...") ending in ".exe" or ".com" is
// taken as it is (an unquoted path cut at a blank lacks the extension); a bare name
// (no separator) only from `system_folder`, with ".exe" when it has no
// extension. Anything else (a relative path,
// an empty or unterminated program) gives false.
bool DecideProgram(const std::wstring& command_line, const std::wstring& system_folder, ProgramCommand* decided);

}  // namespace stubframework::externalmethods
