// The text rules of maintenance and self-update that need no process, server
// or registry: product codes, log names, the product's own uninstall command,
// the newer stub's name and the temporary list's name.
#include <gtest/gtest.h>
#include <windows.h>
#include <shellapi.h>
#include <aclapi.h>

#include <string>

#include "base/temp_folder.h"
#include "support/security_probe.h"

#include "workflow/installer_list_update.h"
#include "workflow/maintenance_command.h"
#include "workflow/self_update.h"
#include "workflow/uninstall_entry.h"

namespace stubframework::workflow {
namespace {

TEST(ProductCodeTest, OnlyABracedGuidIsAProductCode) {
  struct Row {
    const wchar_t* code;
    bool accepted;
  } rows[] = {
      {L"{3F1D2C4B-7A6E-4B58-9D21-6C0E8F4A2B31}", true},
      {L"{3f1d2c4b-7a6e-4b58-9d21-6c0e8f4a2b31}", true},
      {L"3F1D2C4B-7A6E-4B58-9D21-6C0E8F4A2B31", false},
      {L"{3F1D2C4B-7A6E-4B58-9D21-6C0E8F4A2B3}", false},
      {L"{3F1D2C4B-7A6E-4B58-9D21-6C0E8F4A2B31}}", false},
      {L"{3F1D2C4B-7A6E-4B58-9D21_6C0E8F4A2B31}", false},
      {L"{3F1D2C4B-7A6E-4B58-9D21-6C0E8F4A2BG1}", false},
      // What a page could try: more switches, another key.
      {L"{1} /i C:\\x.msi {2}", false},
      {L"{3F1D2C4B-7A6E-4B58-9D21-6C0E8F4A2B31}\\..\\Run", false},
      {L"", false},
  };
  for (const Row& row : rows) EXPECT_EQ(IsProductCode(row.code), row.accepted) << row.code;
}

// The command lines start msiexec by its full path in the system folder: run
// by CreateProcessW without an application name, a bare "msiexec.exe" would be
// looked for beside the stub and in the current folder first.
TEST(MsiexecCommandTest, RemovalAndRepairStartTheSystemsMsiexecByItsQuotedFullPath) {
  wchar_t system[MAX_PATH] = {};
  const UINT length = ::GetSystemDirectoryW(system, MAX_PATH);
  ASSERT_GT(length, 3u);
  const std::wstring msiexec = std::wstring(system, length) + L"\\msiexec.exe";
  EXPECT_EQ(SystemMsiexec(), msiexec);
  const wchar_t kCode[] = L"{3F1D2C4B-7A6E-4B58-9D21-6C0E8F4A2B31}";
  const struct {
    std::wstring command_line;
    std::wstring expected;
  } rows[] = {
      {RemoveCommandLine(kCode, L"C:\\T\\a b.log"),
       L"\"" + msiexec + L"\" /uninstall " + kCode + L" /qn /norestart /l*v \"C:\\T\\a b.log\""},
      {RepairCommandLine(kCode, L"C:\\T\\a b.log"),
       L"\"" + msiexec + L"\" /f " + kCode + L" /qn /norestart /l*v \"C:\\T\\a b.log\""},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(row.command_line, row.expected);
    // What CreateProcessW takes for the program is the whole path.
    int count = 0;
    LPWSTR* argv = ::CommandLineToArgvW(row.command_line.c_str(), &count);
    ASSERT_NE(argv, nullptr);
    EXPECT_EQ(std::wstring(argv[0]), msiexec);
    EXPECT_EQ(count, 7);
    ::LocalFree(argv);
  }
}

// The uninstall copy's folders under an all-users folder of the test's own.
class UninstallCopyFolderTest : public ::testing::Test {
 protected:
  static constexpr wchar_t kCode[] = L"{0B1C2D3E-4F50-4617-8293-A4B5C6D7E8F9}";
  void SetUp() override {
    root_ = base::MakeUniqueFolder(base::TemporaryPath());
    ASSERT_FALSE(root_.empty());
    stub_ = root_ + L"stub source.exe";
    HANDLE file = ::CreateFileW(stub_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    ::WriteFile(file, "MZ stub", 7, &written, nullptr);
    ::CloseHandle(file);
    request_.braced_code = kCode;
    request_.product_id = L"Tessary";
    request_.stub_path = stub_;
    request_.common_app_data = root_ + L"common";
    ASSERT_TRUE(::CreateDirectoryW(request_.common_app_data.c_str(), nullptr));
    DeleteEntry();
  }
  void TearDown() override {
    DeleteEntry();
    base::DeleteFolderRecursive(root_);
  }
  static void DeleteEntry() {
    ::RegDeleteKeyExW(HKEY_LOCAL_MACHINE,
                      (L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + std::wstring(kCode)).c_str(),
                      KEY_WOW64_32KEY, 0);
  }
  static bool EntryExists() {
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE,
                        (L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + std::wstring(kCode)).c_str(), 0,
                        KEY_READ | KEY_WOW64_32KEY, &key) != ERROR_SUCCESS) {
      return false;
    }
    ::RegCloseKey(key);
    return true;
  }
  static bool Protected(const std::wstring& folder) {
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (::GetNamedSecurityInfoW(folder.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl,
                                nullptr, &descriptor) != ERROR_SUCCESS) {
      return false;
    }
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    ::GetSecurityDescriptorControl(descriptor, &control, &revision);
    ::LocalFree(descriptor);
    return dacl != nullptr && (control & SE_DACL_PROTECTED) != 0;
  }
  std::wstring root_, stub_;
  UninstallEntryRequest request_;
};

TEST_F(UninstallCopyFolderTest, TheCopysFoldersAreMadeProtected) {
  ASSERT_TRUE(WriteUninstallEntry(request_));
  const std::wstring folder = StubCopyFolder(request_.common_app_data, L"Tessary");
  EXPECT_TRUE(::GetFileAttributesW((folder + L"stub source.exe").c_str()) != INVALID_FILE_ATTRIBUTES);
  EXPECT_TRUE(EntryExists());
  EXPECT_TRUE(WriteUninstallEntry(request_)) << "a later run uses its own folders again";
  if (!testsupport::PlatformKeepsFileSecurity(root_)) GTEST_SKIP() << testsupport::kNoStoredSecurity;
  EXPECT_TRUE(Protected(folder));
  std::wstring publisher = folder.substr(0, folder.size() - 1);
  publisher = publisher.substr(0, publisher.find_last_of(L'\\'));
  EXPECT_TRUE(Protected(publisher));
}

TEST_F(UninstallCopyFolderTest, APublisherFolderSomeoneElseMadeFirstGetsNoCopyAndNoEntry) {
  if (!testsupport::PlatformKeepsFileSecurity(root_)) GTEST_SKIP() << testsupport::kNoStoredSecurity;
  std::wstring folder = StubCopyFolder(request_.common_app_data, L"Tessary");
  std::wstring publisher = folder.substr(0, folder.size() - 1);
  publisher = publisher.substr(0, publisher.find_last_of(L'\\'));
  ASSERT_TRUE(::CreateDirectoryW(publisher.c_str(), nullptr));
  BYTE users[SECURITY_MAX_SID_SIZE];
  DWORD size = sizeof(users);
  ASSERT_TRUE(::CreateWellKnownSid(WinBuiltinUsersSid, nullptr, users, &size));
  ASSERT_EQ(::SetNamedSecurityInfoW(&publisher[0], SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, users, nullptr, nullptr,
                                    nullptr),
            static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_FALSE(WriteUninstallEntry(request_));
  EXPECT_EQ(::GetFileAttributesW(folder.c_str()), INVALID_FILE_ATTRIBUTES) << "nothing made inside";
  EXPECT_FALSE(EntryExists()) << "no entry for a copy someone else could swap";
}

TEST(MaintenanceLogTest, ThePagesNameCannotLeaveTheLogFolderOrBreakTheQuotes) {
  SYSTEMTIME utc = {};
  utc.wYear = 2024;
  utc.wMonth = 1;
  utc.wDay = 1;
  EXPECT_EQ(MaintenanceLogFile(L"C:\\T\\", kRemoveLogPrefix, L"..\\..\\Windows\\a", utc),
            L"C:\\T\\remove_.._.._Windows_a_20240101000000.log");
  EXPECT_EQ(MaintenanceLogFile(L"C:\\T\\", kRemoveLogPrefix, L"a\" /i \"b:c", utc),
            L"C:\\T\\remove_a_ _i _b_c_20240101000000.log");
  EXPECT_EQ(MaintenanceLogFolder(L"C:\\T\\", L"..\\x"), L"C:\\T\\.._x_log\\") << "the product id is a user setting";
}

TEST(OwnUninstallStringTest, AnythingButTheWindowsInstallersOwnEntryIsRun) {
  struct Row {
    const wchar_t* uninstall_string;
    bool runs_own;
  } rows[] = {
      {L"MsiExec.exe /X{3F1D2C4B-7A6E-4B58-9D21-6C0E8F4A2B31}", false},
      {L"C:\\Windows\\System32\\MsiExec.exe /I{x}", false},
      {L"msiexec.exe /x {x} ", true},  // the search is case-sensitive
      {L"MSIEXEC.EXE /x {x}", true},
      {L"\"C:\\Program Files\\Product\\uninst.exe\" ", true},
      {L"", false},
  };
  for (const Row& row : rows) EXPECT_EQ(UsesOwnUninstallString(row.uninstall_string), row.runs_own);
}

TEST(UpdateStubNameTest, TheRunningFilesOwnNameGetsTheUpdateSuffix) {
  struct Row {
    const wchar_t* url;
    const wchar_t* self;
    const wchar_t* name;
  } rows[] = {
      {L"http://127.0.0.1/a/setup.exe", L"setup.exe", L"setup_update.exe"},
      {L"http://127.0.0.1/a/SETUP.Exe", L"setup.exe", L"SETUP_update.exe"},
      {L"http://127.0.0.1/a/Tessary.1.2.exe", L"tessary.1.2.EXE", L"Tessary.1.2_update.exe"},
      {L"http://127.0.0.1/a/setup", L"setup", L"setup_update.exe"},
      {L"http://127.0.0.1/a/newer.exe", L"setup.exe", L"newer.exe"},
      // Not a plain file name: nothing is saved.
      {L"http://127.0.0.1/a/setup.exe?v=2", L"setup.exe", L""},
      {L"http://127.0.0.1/a/", L"setup.exe", L""},
      {L"http://127.0.0.1/a/..", L"setup.exe", L""},
      {L"http://127.0.0.1/a:b", L"setup.exe", L"b"},  // a colon separates, as a backslash does
      {L"", L"setup.exe", L""},
  };
  for (const Row& row : rows) EXPECT_EQ(UpdateStubName(row.url, row.self), row.name) << row.url;
}

TEST(NewListFileTest, TheMarkGoesBeforeTheFileNamesLastDot) {
  struct Row {
    const wchar_t* list;
    const wchar_t* temporary;
  } rows[] = {
      {L"C:\\b\\installerlist.js", L"C:\\b\\installerlist__NEW_FILE__.js"},
      {L"C:\\b\\list.v2.js", L"C:\\b\\list.v2__NEW_FILE__.js"},
      // Never the list itself, and never a changed folder.
      {L"C:\\b\\installerlist", L"C:\\b\\installerlist__NEW_FILE__"},
      {L"C:\\b.v2\\installerlist", L"C:\\b.v2\\installerlist__NEW_FILE__"},
  };
  for (const Row& row : rows) EXPECT_EQ(NewListFile(row.list), row.temporary);
}

}  // namespace
}  // namespace stubframework::workflow
