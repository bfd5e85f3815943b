#include "externalmethods/program_command.h"

#include <cwchar>
#include <cwctype>

namespace stubframework::externalmethods {

namespace {

bool IsFullPath(const std::wstring& path) {
  const bool drive = path.size() >= 3 && std::iswalpha(path[0]) && path[1] == L':' && path[2] == L'\\';
  const bool unc = path.size() >= 3 && path[0] == L'\\' && path[1] == L'\\' && path[2] != L'?' && path[2] != L'.';
  return drive || unc;
}

bool HasProgramExtension(const std::wstring& path) {
  if (path.size() < 4) return false;
  const std::wstring tail = path.substr(path.size() - 4);
  return _wcsicmp(tail.c_str(), L".exe") == 0 || _wcsicmp(tail.c_str(), L".com") == 0;
}

}  // namespace

bool DecideProgram(const std::wstring& command_line, const std::wstring& system_folder, ProgramCommand* decided) {
  size_t start = command_line.find_first_not_of(L" \t");
  if (start == std::wstring::npos) return false;
  std::wstring program;
  size_t rest = 0;
  if (command_line[start] == L'"') {
    const size_t close = command_line.find(L'"', start + 1);
    if (close == std::wstring::npos) return false;
    program = command_line.substr(start + 1, close - start - 1);
    rest = close + 1;
  } else {
    const size_t end = command_line.find_first_of(L" \t", start);
    program = command_line.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start);
    rest = end == std::wstring::npos ? command_line.size() : end;
  }
  if (program.empty() || program.find(L'"') != std::wstring::npos) return false;
  if (IsFullPath(program)) {
    // An unquoted "C:\\My Tools\\x.exe" reads as "C:\\My": a program without
    // its extension is such a cut path, and a file planted under that name
    // would run.
    if (!HasProgramExtension(program)) return false;
    decided->application = program;
  } else if (program.find_first_of(L"\\/:") == std::wstring::npos && program != L"." && program != L".." &&
             !system_folder.empty()) {
    decided->application = system_folder + (system_folder.back() == L'\\' ? L"" : L"\\") + program;
    // As the system does for a name without an extension.
    if (program.find(L'.') == std::wstring::npos) decided->application += L".exe";
  } else {
    return false;
  }
  decided->command_line = L"\"" + decided->application + L"\"" + command_line.substr(rest);
  return true;
}

}  // namespace stubframework::externalmethods
