// Which program a page's command line starts: decided once, by full path, and
// handed to CreateProcessW by name so no shorter prefix or planted copy runs.
#include <gtest/gtest.h>

#include <string>

#include "externalmethods/program_command.h"

namespace stubframework::externalmethods {
namespace {

constexpr wchar_t kSystem[] = L"C:\\windows\\system32";

TEST(ProgramCommandTest, TheProgramIsAFullPathOrANameFromTheSystemFolder) {
  const struct {
    const wchar_t* command_line;
    const wchar_t* application;  // null: refused
    const wchar_t* rebuilt;
  } rows[] = {
      // An unquoted path with a blank names only its first word: never "C:\Program Files\x.exe" by guessing.
      {L"C:\\Program Files\\x.exe /q", nullptr, nullptr},
      {L"C:\\My.Tools\\x.EXE /q", L"C:\\My.Tools\\x.EXE", L"\"C:\\My.Tools\\x.EXE\" /q"},
      {L"\"C:\\Program\" Files\\x.exe", nullptr, nullptr},
      {L"\"C:\\Program Files\\x.exe\" /q \"a b\"", L"C:\\Program Files\\x.exe",
       L"\"C:\\Program Files\\x.exe\" /q \"a b\""},
      {L"  \"C:\\p.exe\"", L"C:\\p.exe", L"\"C:\\p.exe\""},
      {L"C:\\p.exe\t-x", L"C:\\p.exe", L"\"C:\\p.exe\"\t-x"},
      {L"\\\\server\\share\\p.exe", L"\\\\server\\share\\p.exe", L"\"\\\\server\\share\\p.exe\""},
      // A bare name comes from the system folder, never from beside the stub or the current folder.
      {L"notepad.exe file.txt", L"C:\\windows\\system32\\notepad.exe",
       L"\"C:\\windows\\system32\\notepad.exe\" file.txt"},
      {L"notepad", L"C:\\windows\\system32\\notepad.exe", L"\"C:\\windows\\system32\\notepad.exe\""},
      // Relative paths and odd shapes start nothing.
      {L"tools\\p.exe", nullptr, nullptr},
      {L".\\p.exe", nullptr, nullptr},
      {L"..", nullptr, nullptr},
      {L"C:p.exe", nullptr, nullptr},
      {L"\\p.exe", nullptr, nullptr},
      {L"\\\\?\\C:\\p.exe", nullptr, nullptr},
      {L"\"C:\\p.exe", nullptr, nullptr},  // no closing quote
      {L"\"\" x", nullptr, nullptr},
      {L"   ", nullptr, nullptr},
      {L"", nullptr, nullptr},
  };
  for (const auto& row : rows) {
    ProgramCommand decided;
    const bool ok = DecideProgram(row.command_line, kSystem, &decided);
    EXPECT_EQ(ok, row.application != nullptr) << std::wstring(row.command_line).size();
    if (!ok || row.application == nullptr) continue;
    EXPECT_EQ(decided.application, row.application);
    EXPECT_EQ(decided.command_line, row.rebuilt);
  }
  ProgramCommand decided;
  EXPECT_FALSE(DecideProgram(L"notepad.exe", L"", &decided)) << "no system folder, no bare names";
}

}  // namespace
}  // namespace stubframework::externalmethods
