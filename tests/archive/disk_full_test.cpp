// A full disk during extraction and while writing "log.zip", on a 1 MiB
// volume that the test run mounts (small_volume.sh).
#include <gtest/gtest.h>

#include "app/app_log.h"
#include "archive/package_extract.h"
#include "archive/zip_writer.h"
#include "archive/archive_test_support.h"

namespace stubframework::archive {
namespace {

using namespace testsupport::zip;

class DiskFullTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ULARGE_INTEGER available, total;
    if (!::GetDiskFreeSpaceExW(STUB_SMALL_VOLUME, &available, &total, nullptr) || total.QuadPart > (8u << 20)) {
      GTEST_SKIP() << "no small volume at the test folder: mounting a tmpfs needs root";
    }
    volume_ = std::make_unique<ScratchFolder>(STUB_SMALL_VOLUME);
    ASSERT_FALSE(volume_->path().empty());
  }
  std::unique_ptr<ScratchFolder> volume_;
};

TEST_F(DiskFullTest, SizesBeyondTheFreeSpaceReportDiskFullBeforeWriting) {
  // Four MiB declared for a volume of one.
  RecordingReporter reporter;
  EXPECT_FALSE(ExtractFile(Fixture(L"large.zip"), volume_->path(), &reporter));
  EXPECT_EQ(reporter.errors, std::vector<int>{ERROR_DISK_FULL});
  EXPECT_EQ(reporter.progress.back(), std::make_pair(2u, 2u));
  EXPECT_FALSE(Exists(volume_->path() + L"setup.exe"));
  EXPECT_FALSE(Exists(volume_->path() + L"payload.bin"));
}

TEST_F(DiskFullTest, VolumeFillingUpWhileWritingReportsDiskFullAndRemovesThePartialFile) {
  // 900,000 bytes declared fit the free space; 301 files take more pages than
  // the volume has, so a write fails part way.
  RecordingReporter reporter;
  EXPECT_FALSE(ExtractFile(Fixture(L"many_small.zip"), volume_->path(), &reporter));
  ASSERT_FALSE(reporter.errors.empty()) << "the declared sizes were refused up front, or everything fitted";
  EXPECT_EQ(reporter.errors.back(), ERROR_DISK_FULL);
  EXPECT_EQ(reporter.progress.back(), std::make_pair(301u, 301u));
  EXPECT_TRUE(Exists(volume_->path() + L"setup.exe"));
  ASSERT_GE(reporter.progress.size(), 3u);
  // The entry being written when the volume filled up is removed.
  unsigned failed = reporter.progress[reporter.progress.size() - 2].first;
  ASSERT_GE(failed, 1u);
  wchar_t name[32];
  swprintf(name, 32, L"data\\%03u.bin", failed - 1);
  EXPECT_FALSE(Exists(volume_->path() + name)) << name;
}

TEST_F(DiskFullTest, PackageOnAFullDiskGivesDiskFull) {
  // Unzip folders are made in the temporary folder: point it at the volume.
  wchar_t saved[MAX_PATH] = {};
  DWORD saved_length = ::GetEnvironmentVariableW(L"TMP", saved, MAX_PATH);
  ::SetEnvironmentVariableW(L"TMP", volume_->path().c_str());
  app::AppLog log;
  std::wstring unzip_folder, setup_folder;
  int result = ExtractPackage(&log, nullptr, Fixture(L"large.zip"), &unzip_folder, &setup_folder);
  ::SetEnvironmentVariableW(L"TMP", saved_length ? saved : nullptr);
  EXPECT_EQ(result, kPackageDiskFull);
  EXPECT_EQ(unzip_folder.rfind(volume_->path(), 0), 0u) << "unzipped on the small volume";
}

TEST_F(DiskFullTest, NewArchiveIsRemovedWhenAddingFails) {
  ScratchFolder elsewhere;
  std::string payload = ReadBytes(Fixture(L"large.zip"));
  ASSERT_TRUE(WriteBytes(elsewhere.path() + L"big.log", payload));
  std::wstring archive = volume_->path() + L"log.zip";
  EXPECT_FALSE(AddFileToArchive(archive, elsewhere.path() + L"big.log"));
  EXPECT_FALSE(Exists(archive));
}

}  // namespace
}  // namespace stubframework::archive
