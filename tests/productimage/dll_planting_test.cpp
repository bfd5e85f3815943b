// A DLL placed beside the product executable (say, in the user's downloads
// folder) under the name of one the product uses must never load into it.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "base/temp_folder.h"
#include "stub_runner.h"
#include "support/test_files.h"

namespace {

const wchar_t* const kPlantedNames[] = {L"urlmon.dll", L"wininet.dll"};
const wchar_t kProbe[] = L"PlantingProbe.exe";
const wchar_t kDelayProbe[] = L"PlantingDelayProbe.exe";
const wchar_t kProduct[] = L"PlantedSetup.exe";

class DllPlantingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    temp_ = testsupport::EnterTempFolder();
    ASSERT_FALSE(temp_.empty());
    downloads_ = temp_ + L"Downloads\\";
    ASSERT_TRUE(CreateDirectoryW(downloads_.c_str(), nullptr));
    for (const wchar_t* name : kPlantedNames) {
      ASSERT_TRUE(CopyFileW(testsupport::WindowsPathOf(PLANTED_DLL).c_str(), (downloads_ + name).c_str(), FALSE));
    }
    ASSERT_TRUE(CopyFileW(testsupport::StubPath().c_str(), (downloads_ + kProduct).c_str(), FALSE));
    ASSERT_TRUE(CopyFileW(testsupport::WindowsPathOf(PROBE_EXE).c_str(), (downloads_ + kProbe).c_str(), FALSE));
    ASSERT_TRUE(CopyFileW(testsupport::WindowsPathOf(DELAY_PROBE_EXE).c_str(), (downloads_ + kDelayProbe).c_str(), FALSE));
    // Wine prefers its built-in DLLs to a file beside the program; for these
    // programs it is told to search as Windows does for DLLs that are not
    // known DLLs: the program's folder first. Windows ignores the key.
    for (const wchar_t* program : {kProduct, kProbe, kDelayProbe}) PreferDllsBesideProgram(program);
    testsupport::ClearProductSettings();
  }

  void TearDown() override {
    for (const wchar_t* program : {kProduct, kProbe, kDelayProbe}) {
      RegDeleteTreeW(HKEY_CURRENT_USER, (std::wstring(L"Software\\Wine\\AppDefaults\\") + program).c_str());
    }
    testsupport::LeaveTempFolder(temp_);
    testsupport::ClearProductSettings();
  }

  static void PreferDllsBesideProgram(const wchar_t* program) {
    std::wstring key = std::wstring(L"Software\\Wine\\AppDefaults\\") + program + L"\\DllOverrides";
    HKEY overrides = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &overrides,
                              nullptr),
              ERROR_SUCCESS);
    for (const wchar_t* name : {L"urlmon", L"wininet"}) {
      const wchar_t order[] = L"native,builtin";
      RegSetValueExW(overrides, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(order), sizeof(order));
    }
    RegCloseKey(overrides);
  }

  bool AnyPlantedDllLoaded() const {
    bool loaded = false;
    for (const wchar_t* name : kPlantedNames) {
      std::wstring mark = downloads_ + name + L".loaded";
      if (testsupport::PathExists(mark)) {
        loaded = true;
        DeleteFileW(mark.c_str());
      }
    }
    return loaded;
  }

  std::wstring temp_;
  std::wstring downloads_;
};

TEST_F(DllPlantingTest, TheProductNeverLoadsADllPlantedBesideIt) {
  // The setting is real: a program that imports urlmon statically loads the
  // planted copy as soon as it starts.
  testsupport::RunAndWait(downloads_ + kProbe, L"");
  ASSERT_TRUE(AnyPlantedDllLoaded());

  // The process the user starts copies itself away and runs the copy.
  EXPECT_EQ(testsupport::RunAndWait(downloads_ + kProduct, L""), 0u);
  EXPECT_FALSE(AnyPlantedDllLoaded());
  // The working copy, had it been started in that folder.
  testsupport::RunAndWait(downloads_ + kProduct, L"run=1");
  EXPECT_FALSE(AnyPlantedDllLoaded());
}

TEST_F(DllPlantingTest, ADelayLoadedDllComesFromTheSystemFolderEvenWithoutTheSearchRestriction) {
  // 0: the system's urlmon.dll answered the call.
  EXPECT_EQ(testsupport::RunAndWait(downloads_ + kDelayProbe, L""), 0u);
  EXPECT_FALSE(AnyPlantedDllLoaded());
}

}  // namespace
