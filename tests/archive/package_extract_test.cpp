// Downloaded packages: the extension rule, the unique unzip folder, the
// search for setup.exe and the result codes with their log lines.
#include <gtest/gtest.h>

#include "app/app_log.h"
#include "archive/find_file.h"
#include "archive/package_extract.h"
#include "archive/archive_test_support.h"

namespace stubframework::archive {
namespace {

using namespace testsupport::zip;

class PackageExtractTest : public ::testing::Test {
 protected:
  void TearDown() override {
    if (!unzip_folder_.empty()) base::DeleteFolderRecursive(unzip_folder_);
  }
  int Extract(const std::wstring& package) {
    return ExtractPackage(&log_, &reporter_, package, &unzip_folder_, &setup_folder_);
  }
  std::string LogText() { return ReadBytes(log_.path()); }

  app::AppLog log_;
  RecordingReporter reporter_;
  std::wstring unzip_folder_ = L"stale";
  std::wstring setup_folder_ = L"stale";
};

TEST_F(PackageExtractTest, CapitalZipExtensionIsAcceptedAndSetupInASubfolderIsFound) {
  ASSERT_EQ(Extract(Fixture(L"nested_setup.ZIP")), kPackageReady);
  EXPECT_EQ(unzip_folder_.rfind(base::TemporaryPath(), 0), 0u) << "a folder in the temporary folder";
  EXPECT_EQ(unzip_folder_.back(), L'\\');
  EXPECT_EQ(setup_folder_, unzip_folder_ + L"tools\\bin");
  EXPECT_TRUE(Exists(setup_folder_ + L"\\setup.exe"));
  EXPECT_TRUE(Exists(unzip_folder_ + L"docs\\setup.txt"));
  EXPECT_EQ(reporter_.progress.back(), std::make_pair(4u, 4u)) << "progress goes on to the caller's reporter";
}

TEST_F(PackageExtractTest, SetupAtTheTopGivesTheUnzipFolderItself) {
  ASSERT_EQ(Extract(Fixture(L"root_setup.zip")), kPackageReady);
  EXPECT_EQ(setup_folder_, unzip_folder_);
}

TEST_F(PackageExtractTest, PackageWithoutSetupGivesFileNotFoundAndLogsTheFolder) {
  ASSERT_EQ(Extract(Fixture(L"no_setup.zip")), kPackageSetupNotFound);
  EXPECT_FALSE(unzip_folder_.empty());
  EXPECT_TRUE(setup_folder_.empty());
  std::string expected = "Can not find setup.exe, unzip path : " + std::string(unzip_folder_.begin(), unzip_folder_.end());
  EXPECT_NE(LogText().find(expected), std::string::npos) << LogText();
}

TEST_F(PackageExtractTest, OtherExtensionsFailAtOnce) {
  EXPECT_EQ(Extract(Fixture(L"package.7z")), kPackageFailed);
  EXPECT_TRUE(unzip_folder_.empty());
  EXPECT_TRUE(setup_folder_.empty());
  EXPECT_TRUE(reporter_.progress.empty());
  EXPECT_EQ(Extract(L"C:\\packages\\zip"), kPackageFailed);
  EXPECT_TRUE(unzip_folder_.empty());
}

TEST_F(PackageExtractTest, CorruptOrMissingPackageFailsAndLogsBothPaths) {
  for (const wchar_t* name : {L"bad_crc.zip", L"missing.zip", L"escape_dotdot.zip"}) {
    std::wstring package = Fixture(name);
    EXPECT_EQ(Extract(package), kPackageFailed) << name;
    std::string expected = "Unzip failed, package_path: " + std::string(package.begin(), package.end()) +
                           ", unzip to: " + std::string(unzip_folder_.begin(), unzip_folder_.end());
    EXPECT_NE(LogText().find(expected), std::string::npos) << LogText();
    base::DeleteFolderRecursive(unzip_folder_);
  }
}

TEST_F(PackageExtractTest, PackageDeclaringMoreThanTheVolumeHoldsGivesDiskFull) {
  EXPECT_EQ(Extract(Fixture(L"huge_declared.zip")), kPackageDiskFull);
  EXPECT_EQ(reporter_.errors, std::vector<int>{ERROR_DISK_FULL});
  WIN32_FIND_DATAW data;
  HANDLE find = ::FindFirstFileW((unzip_folder_ + L"huge*").c_str(), &data);
  EXPECT_EQ(find, INVALID_HANDLE_VALUE) << "nothing written";
  if (find != INVALID_HANDLE_VALUE) ::FindClose(find);
}

TEST(FindFileTest, DirectHitWinsOverDeeperOnes) {
  ScratchFolder scratch;
  ASSERT_TRUE(::CreateDirectoryW((scratch.path() + L"a").c_str(), nullptr));
  ASSERT_TRUE(::CreateDirectoryW((scratch.path() + L"a\\b").c_str(), nullptr));
  ASSERT_TRUE(WriteBytes(scratch.path() + L"a\\b\\setup.exe", "MZ"));
  std::wstring holder;
  ASSERT_TRUE(FindFile(scratch.path(), L"setup.exe", &holder));
  EXPECT_EQ(holder, scratch.path() + L"a\\b");
  ASSERT_TRUE(WriteBytes(scratch.path() + L"setup.exe", "MZ"));
  ASSERT_TRUE(FindFile(scratch.path(), L"setup.exe", &holder));
  EXPECT_EQ(holder, scratch.path());
  EXPECT_FALSE(FindFile(scratch.path(), L"other.exe", &holder));
  EXPECT_FALSE(FindFile(scratch.path() + L"missing", L"setup.exe", &holder));
}

}  // namespace
}  // namespace stubframework::archive
