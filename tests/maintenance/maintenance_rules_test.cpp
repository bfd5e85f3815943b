// The text rules of maintenance and self-update that need no process, server
// or registry: product codes, log names, the product's own uninstall command,
// the newer stub's name and the temporary list's name.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "workflow/installer_list_update.h"
#include "workflow/maintenance_command.h"
#include "workflow/self_update.h"

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
