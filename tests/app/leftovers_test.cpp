// Start-up clearing of what killed runs left in the temporary folder: only
// this program's own folders that no live run holds, and their logs kept.
#include <gtest/gtest.h>
#include <windows.h>
#include <aclapi.h>

#include <string>

#include "app/leftovers.h"
#include "base/secured_folder.h"
#include "base/temp_folder.h"
#include "support/security_probe.h"

namespace stubframework::app {
namespace {

bool Exists(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

void WriteFileText(const std::wstring& path, const char* text) {
  HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  DWORD written = 0;
  ::WriteFile(file, text, static_cast<DWORD>(strlen(text)), &written, nullptr);
  ::CloseHandle(file);
}

std::string ReadText(const std::wstring& path) {
  std::string text;
  HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return text;
  char piece[256];
  DWORD read = 0;
  while (::ReadFile(file, piece, sizeof(piece), &read, nullptr) && read > 0) text.append(piece, read);
  ::CloseHandle(file);
  return text;
}

std::wstring NewRunFolderName() { return base::kRunFolderPrefix + base::RandomHex(base::kRunFolderRandomBytes); }

TEST(LeftoversTest, OnlyAbandonedFoldersOfOursGoAndTheirLogsAreKept) {
  const std::wstring temp = base::MakeUniqueFolder(base::TemporaryPath());
  ASSERT_FALSE(temp.empty());
  const std::wstring kept = temp + L"Tessary_log";

  // A killed run's working folder, with the stub copy and the pages.
  const std::wstring dead_run = temp + NewRunFolderName() + L"\\";
  ASSERT_TRUE(base::CreateProtectedFolder(dead_run));
  WriteFileText(dead_run + L"TessarySetup.exe", "MZ");
  ASSERT_TRUE(::CreateDirectoryW((dead_run + L"pages").c_str(), nullptr));
  WriteFileText(dead_run + L"pages\\index.html", "<p>");
  // A killed run's log folder.
  const std::wstring dead_log = base::MakeUniqueFolder(temp);
  WriteFileText(dead_log + L"installer_log_20260101_000000.txt", "the killed run's lines");
  // A live run's folder: held.
  base::RunFolder live;
  ASSERT_TRUE(live.Create(temp));
  WriteFileText(live.path() + L"TessarySetup.exe", "MZ");
  // This run's own log folder.
  const std::wstring own_log = base::MakeUniqueFolder(temp);
  WriteFileText(own_log + L"installer_log_20260102_000000.txt", "this run");
  // A unique folder with an unpacked package: not known for a log folder.
  const std::wstring package = base::MakeUniqueFolder(temp);
  WriteFileText(package + L"setup.exe", "MZ");
  WriteFileText(package + L"installer_log_20260103_000000.txt", "a package's file of that name");
  // A run-named folder someone else made.
  // (Only where the platform keeps owners.)
  const bool owners_kept = testsupport::PlatformKeepsFileSecurity(temp);
  const std::wstring planted = temp + NewRunFolderName();
  ASSERT_TRUE(::CreateDirectoryW(planted.c_str(), nullptr));
  BYTE users[SECURITY_MAX_SID_SIZE];
  DWORD size = sizeof(users);
  ASSERT_TRUE(::CreateWellKnownSid(WinBuiltinUsersSid, nullptr, users, &size));
  std::wstring planted_name = planted;
  ASSERT_EQ(::SetNamedSecurityInfoW(&planted_name[0], SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, users, nullptr,
                                    nullptr, nullptr),
            static_cast<DWORD>(ERROR_SUCCESS));
  // Other names, and a file with a run folder's name.
  ASSERT_TRUE(::CreateDirectoryW((temp + L"5f3a2c").c_str(), nullptr));
  ASSERT_TRUE(::CreateDirectoryW((temp + L"SomeoneElses").c_str(), nullptr));
  const std::wstring run_named_file = temp + NewRunFolderName();
  WriteFileText(run_named_file, "a file");

  const LeftoverCount count = RemoveLeftovers(temp, kept, own_log, nullptr);
  EXPECT_EQ(count.folders_removed, owners_kept ? 2 : 3);
  EXPECT_EQ(count.logs_kept, 1);
  EXPECT_FALSE(Exists(dead_run));
  EXPECT_FALSE(Exists(dead_log));
  EXPECT_EQ(ReadText(kept + L"\\installer_log_20260101_000000.txt"), "the killed run's lines");
  EXPECT_TRUE(Exists(live.path() + L"TessarySetup.exe")) << "a live run's folder stays";
  EXPECT_TRUE(Exists(own_log + L"installer_log_20260102_000000.txt"));
  EXPECT_TRUE(Exists(package + L"setup.exe"));
  if (owners_kept) EXPECT_TRUE(Exists(planted)) << "a folder someone else made is not ours to clear";
  EXPECT_TRUE(Exists(temp + L"5f3a2c"));
  EXPECT_TRUE(Exists(temp + L"SomeoneElses"));
  EXPECT_EQ(ReadText(run_named_file), "a file");

  live.Remove();
  base::DeleteFolderRecursive(temp);
}

}  // namespace
}  // namespace stubframework::app
