// DownloadUrlToFile through URLMon, with the holder and the application's
// bind-status callback.
#include "utils/download_url_to_file.h"

#include <gtest/gtest.h>

#include "../downloader/download_test_util.h"
#include "support/test_servers.h"
#include "utils_test_util.h"

namespace {

using stubframework::utils::DownloadCallback;
using stubframework::utils::DownloadUrlToFile;
using testsupport::UniqueKey;

// URLMon delivers its callbacks through this thread's message queue.
class DownloadUrlToFileTest : public testsupport::ServerTest {
 protected:
  void SetUp() override {
    ServerTest::SetUp();
    ASSERT_TRUE(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    path_ = enginetest::TempFilePath(L"urlmon");
  }
  void TearDown() override {
    ::DeleteFileW(path_.c_str());
    ::CoUninitialize();
  }
  std::wstring path_;
  utilstest::TestHost host_;
};

TEST_F(DownloadUrlToFileTest, WholeBodyLandsInTheFileAndProgressIsPublished) {
  DownloadCallback callback(&host_.host());
  HRESULT hr = DownloadUrlToFile(servers().FaultUrl("/ok/" + UniqueKey() + "?size=300000"), path_, &callback);
  EXPECT_EQ(hr, S_OK);
  EXPECT_EQ(testsupport::ReadWholeFile(path_), testsupport::PatternBytes(300000));
  EXPECT_TRUE(callback.data_seen());
  EXPECT_EQ(host_.properties().GetDownloadTotal(), 300000);
  EXPECT_EQ(host_.properties().GetDownloadCurrent(), 300000);
}

TEST_F(DownloadUrlToFileTest, ShortBodyGivesFalseAndAFileCutToWhatCame) {
  HRESULT hr = DownloadUrlToFile(servers().FaultUrl("/drop/" + UniqueKey() + "?size=20&after=10&times=0"), path_,
                                 nullptr);
  EXPECT_EQ(hr, S_FALSE);
  EXPECT_EQ(testsupport::ReadWholeFile(path_), testsupport::PatternBytes(10));
}

TEST_F(DownloadUrlToFileTest, SizeQueryStopsOnceTheSizeIsKnown) {
  host_.size_query = true;
  DownloadCallback callback(&host_.host());
  HRESULT hr = DownloadUrlToFile(servers().FaultUrl("/ok/" + UniqueKey() + "?size=2000000"), path_, &callback);
  EXPECT_TRUE(FAILED(hr)) << std::hex << hr;
  EXPECT_EQ(host_.properties().GetDownloadTotal(), 2000000);
  EXPECT_LT(enginetest::FileSizeOf(path_), 2000000);
}

TEST_F(DownloadUrlToFileTest, StopFlagAbortsTheDownload) {
  host_.cancel = true;
  DownloadCallback callback(&host_.host());
  HRESULT hr = DownloadUrlToFile(servers().FaultUrl("/slow/" + UniqueKey() + "?size=200000&chunk=4096&ms=5"), path_,
                                 &callback);
  EXPECT_TRUE(FAILED(hr)) << std::hex << hr;
  EXPECT_LT(enginetest::FileSizeOf(path_), 200000);
}

TEST_F(DownloadUrlToFileTest, UnwritableDestinationFailsWithTheWin32Error) {
  HRESULT hr = DownloadUrlToFile(servers().FaultUrl("/ok/" + UniqueKey()), L"Z:\\no\\such\\folder\\x.bin", nullptr);
  EXPECT_EQ(hr, HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND));
}

}  // namespace
