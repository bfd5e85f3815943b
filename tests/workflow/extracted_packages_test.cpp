// Packages extracted before a restart: the registry record that start-up
// turns back into properties in resume mode, and always deletes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/settings_store.h"
#include "base/temp_folder.h"
#include "base/wide_format.h"
#include "workflow/extracted_packages.h"
#include "externalmethods/product/my_external_methods.h"
#include "app/command_line.h"
#include "htmlui/bridge_test_support.h"

namespace stubframework::workflow {
namespace {

using testsupport::AppFixture;

TEST(ResumeModeTest, ThisProcessWasNotStartedToResume) { EXPECT_EQ(app::GetResumeMode(), app::kResumeNone); }

constexpr char kNotRestored[] = "Resume record names no folder this program unpacked into, not restored: ";

class ExtractedPackagesTest : public AppFixture {
 protected:
  void SetUp() override {
    AppFixture::SetUp();
    if (HasFatalFailure()) return;
    record_ = ExtractFoldersKey(app_->context().settings_key());
  }
  void TearDown() override {
    DeleteRecord();
    if (!unzip_.empty()) base::DeleteFolderRecursive(unzip_);
    AppFixture::TearDown();
  }

  // A package this program unpacked: a unique folder in the temporary folder.
  void WriteRecord() {
    unzip_ = base::MakeUniqueFolder(base::TemporaryPath());
    ASSERT_FALSE(unzip_.empty());
    ASSERT_TRUE(::CreateDirectoryW((unzip_ + L"setup").c_str(), nullptr));
    ASSERT_TRUE(app::WriteSetting(record_, L"pkg.zip__ZIP_Unzip_Folder__", unzip_));
    ASSERT_TRUE(app::WriteSetting(record_, L"pkg.zip__ZIP_EXE_Path__", unzip_ + L"setup"));
  }
  bool RecordExists() {
    HKEY key = nullptr;
    std::wstring subkey = record_.substr(record_.find(L'\\') + 1);
    LONG status = RegOpenKeyExW(HKEY_CURRENT_USER, subkey.c_str(), 0, KEY_READ | KEY_WOW64_32KEY, &key);
    if (key != nullptr) RegCloseKey(key);
    return status == ERROR_SUCCESS;
  }
  void DeleteRecord() {
    std::wstring subkey = record_.substr(record_.find(L'\\') + 1);
    RegDeleteKeyExW(HKEY_CURRENT_USER, subkey.c_str(), KEY_WOW64_32KEY, 0);
  }

  std::wstring record_;
  std::wstring unzip_;
  base::CriticalSection lock_;
};

TEST_F(ExtractedPackagesTest, RecordLivesUnderTheSettingsKey) {
  EXPECT_EQ(record_, L"HKEY_CURRENT_USER\\SOFTWARE\\Brelvo\\stubframework\\Tessary\\22\\ResumeRecord\\ExtractFolders");
}

TEST_F(ExtractedPackagesTest, ResumeRestoresEveryValueLogsThemAndDeletesTheRecord) {
  WriteRecord();
  base::LockedProperties properties(app_->context().properties(), lock_);
  RestoreExtractedPackages(app_->log(), app_->context().settings_key(), app::kResumeInstalling, properties);

  EXPECT_EQ(properties.GetProperty(L"pkg.zip__ZIP_Unzip_Folder__"), unzip_);
  EXPECT_EQ(properties.GetProperty(L"pkg.zip__ZIP_EXE_Path__"), unzip_ + L"setup");
  EXPECT_TRUE(LogHasLine("Reset properties for Resume Mode")) << LogText();
  EXPECT_TRUE(LogHasLine("pkg.zip__ZIP_Unzip_Folder__:" + base::ToAnsi(unzip_)));
  EXPECT_TRUE(LogHasLine("pkg.zip__ZIP_EXE_Path__:" + base::ToAnsi(unzip_) + "setup"));
  EXPECT_FALSE(RecordExists());
}

// The record lives under HKCU: a folder it names that this program did not
// unpack into is not restored, and the page unpacks the package anew.
TEST_F(ExtractedPackagesTest, FoldersThatAreNotThisProgramsOwnAreNotRestored) {
  WriteRecord();
  const std::wstring temp = base::TemporaryPath();
  const std::wstring plain = temp + L"plain_named_folder\\";
  ASSERT_TRUE(::CreateDirectoryW(plain.c_str(), nullptr) || ::GetLastError() == ERROR_ALREADY_EXISTS);
  const struct {
    const wchar_t* name;
    std::wstring folder;
  } rows[] = {
      {L"a.zip__ZIP_Unzip_Folder__", L"C:\\t\\1F\\"},                  // outside the temporary folder
      {L"b.zip__ZIP_Unzip_Folder__", plain},                               // not a name this program gives
      {L"c.zip__ZIP_EXE_Path__", plain + L"setup"},
      {L"d.zip__ZIP_Unzip_Folder__", temp + std::wstring(32, L'a') + L"\\"},  // our shape, but not there
      {L"e.zip__ZIP_Unzip_Folder__", temp},
  };
  for (const auto& row : rows) ASSERT_TRUE(app::WriteSetting(record_, row.name, row.folder));
  base::LockedProperties properties(app_->context().properties(), lock_);
  RestoreExtractedPackages(app_->log(), app_->context().settings_key(), app::kResumeInstalling, properties);
  for (const auto& row : rows) {
    EXPECT_EQ(properties.GetProperty(row.name), L"") << base::ToAnsi(row.name);
    EXPECT_TRUE(LogHasLine(kNotRestored + base::ToAnsi(row.name)));
  }
  EXPECT_EQ(properties.GetProperty(L"pkg.zip__ZIP_Unzip_Folder__"), unzip_) << "our own folder still is";
  ::RemoveDirectoryW(plain.c_str());
}

TEST_F(ExtractedPackagesTest, ValuesLongerThanAnyPathAreSkipped) {
  WriteRecord();
  const std::wstring longest(32767, L'x');
  ASSERT_TRUE(app::WriteSetting(record_, L"long.zip__ZIP_Unzip_Folder__", longest));
  ASSERT_TRUE(app::WriteSetting(record_, L"huge.zip__ZIP_Unzip_Folder__", std::wstring(1 << 20, L'y')));
  base::LockedProperties properties(app_->context().properties(), lock_);
  RestoreExtractedPackages(app_->log(), app_->context().settings_key(), app::kResumeInstalling, properties);
  EXPECT_EQ(properties.GetProperty(L"pkg.zip__ZIP_Unzip_Folder__"), unzip_);
  EXPECT_EQ(properties.GetProperty(L"long.zip__ZIP_Unzip_Folder__"), L"") << "read whole, then no folder of ours";
  EXPECT_TRUE(LogHasLine(kNotRestored + std::string("long.zip__ZIP_Unzip_Folder__")));
  EXPECT_EQ(properties.GetProperty(L"huge.zip__ZIP_Unzip_Folder__"), L"");
  EXPECT_FALSE(RecordExists());
}

TEST_F(ExtractedPackagesTest, ANormalStartDeletesTheRecordWithoutRestoring) {
  WriteRecord();
  ASSERT_TRUE(RecordExists());
  // The method table does this while it is built.
  externalmethods::MyExternalMethods methods(app_.get());
  EXPECT_FALSE(RecordExists());
  EXPECT_EQ(app_->context().properties().entries().count(L"pkg.zip__ZIP_Unzip_Folder__"), 0u);
  EXPECT_FALSE(LogHasLine("Reset properties for Resume Mode"));
}

TEST_F(ExtractedPackagesTest, ResumeWithoutARecordRestoresNothing) {
  DeleteRecord();
  base::LockedProperties properties(app_->context().properties(), lock_);
  size_t before = app_->context().properties().entries().size();
  RestoreExtractedPackages(app_->log(), app_->context().settings_key(), app::kResumeDownloading, properties);
  EXPECT_EQ(app_->context().properties().entries().size(), before);
  EXPECT_FALSE(RecordExists());
}

}  // namespace
}  // namespace stubframework::workflow
