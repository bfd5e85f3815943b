// DownloadToMemory, VerifyFileWithMeta and IsFileUpToDate.
#include "utils/verify_file.h"

#include <gtest/gtest.h>

#include <cstring>

#include "../downloader/download_test_util.h"
#include "support/test_servers.h"
#include "utils/download_to_memory.h"

namespace downloader = stubframework::downloader;

namespace {

using stubframework::utils::DownloadToMemory;
using stubframework::utils::IsFileUpToDate;
using stubframework::utils::VerifyFileWithMeta;
using testsupport::NoisyBytes;
using testsupport::UniqueKey;

constexpr size_t kMiB = 1048576;

downloader::Buffer BufferOf(const std::string& bytes) {
  downloader::Buffer buffer;
  buffer.SetSize(bytes.size());
  if (!bytes.empty()) memcpy(buffer.data(), bytes.data(), bytes.size());
  return buffer;
}

class VerifyFileTest : public testsupport::ServerTest {
 protected:
  void SetUp() override {
    ServerTest::SetUp();
    if (HasFatalFailure()) return;
    path_ = testsupport::TempFilePath(L"verify");
  }
  void TearDown() override { ::DeleteFileW(path_.c_str()); }
  std::wstring path_;
};

TEST_F(VerifyFileTest, MatchingFileVerifiesAndAnyDifferenceDoesNot) {
  std::string data = NoisyBytes(5 * kMiB, 41);
  downloader::Buffer meta = BufferOf(testsupport::MakeMeta(data));

  ASSERT_TRUE(testsupport::WriteWholeFile(path_, data));
  EXPECT_TRUE(VerifyFileWithMeta(path_, meta));

  ASSERT_TRUE(testsupport::WriteWholeFile(path_, data.substr(0, 3 * kMiB)));  // truncated to 3 of 5 MiB
  EXPECT_FALSE(VerifyFileWithMeta(path_, meta));

  ASSERT_TRUE(testsupport::WriteWholeFile(path_, data + "x"));  // one byte too many
  EXPECT_FALSE(VerifyFileWithMeta(path_, meta));

  std::string flipped = data;
  flipped[4 * kMiB + 3] ^= 1;
  ASSERT_TRUE(testsupport::WriteWholeFile(path_, flipped));
  EXPECT_FALSE(VerifyFileWithMeta(path_, meta));

  ::DeleteFileW(path_.c_str());
  EXPECT_FALSE(VerifyFileWithMeta(path_, meta));  // no file
}

TEST_F(VerifyFileTest, InvalidMetaNeverVerifies) {
  std::string data = NoisyBytes(100, 43);
  ASSERT_TRUE(testsupport::WriteWholeFile(path_, data));
  EXPECT_FALSE(VerifyFileWithMeta(path_, BufferOf(testsupport::MakeMeta(data).substr(0, 27))));
  EXPECT_FALSE(VerifyFileWithMeta(path_, BufferOf("")));
  std::string negative = testsupport::MakeMeta(data);
  negative[7] = static_cast<char>(0x80);
  EXPECT_FALSE(VerifyFileWithMeta(path_, BufferOf(negative)));
}

TEST_F(VerifyFileTest, EmptyFileMatchesItsEightByteMeta) {
  ASSERT_TRUE(testsupport::WriteWholeFile(path_, ""));
  EXPECT_TRUE(VerifyFileWithMeta(path_, BufferOf(testsupport::MakeMeta(""))));
}

TEST_F(VerifyFileTest, DownloadToMemoryFillsAndResizesTheBuffer) {
  downloader::Buffer buffer;
  buffer.SetSize(3);
  ASSERT_TRUE(DownloadToMemory(servers().FaultUrl("/ok/" + UniqueKey() + "?size=5000"), buffer));
  ASSERT_EQ(buffer.size(), 5000u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer.data()), buffer.size()), testsupport::PatternBytes(5000));
  EXPECT_FALSE(DownloadToMemory(servers().FaultUrl("/status/" + UniqueKey() + "?code=404"), buffer));
}

TEST_F(VerifyFileTest, UpToDateAgainstAPublishedMeta) {
  std::string data = NoisyBytes(2 * kMiB + 9, 47);
  std::string name = UniqueKey() + ".bin";
  ASSERT_TRUE(servers().PutFile(name + ".meta", testsupport::MakeMeta(data)));
  ASSERT_TRUE(testsupport::WriteWholeFile(path_, data));
  EXPECT_TRUE(IsFileUpToDate(path_, servers().NginxUrl("/" + name + ".meta")));

  std::string older = data;
  older[5] ^= 1;
  ASSERT_TRUE(testsupport::WriteWholeFile(path_, older));
  EXPECT_FALSE(IsFileUpToDate(path_, servers().NginxUrl("/" + name + ".meta")));
}

TEST_F(VerifyFileTest, MetaAnsweringNotFoundOrRedirectCountsAsUpToDate) {
  ASSERT_TRUE(testsupport::WriteWholeFile(path_, "anything"));
  EXPECT_TRUE(IsFileUpToDate(path_, servers().FaultUrl("/status/" + UniqueKey() + "?code=404")));
  // The redirect leads to a meta the file does not match; it is not followed.
  std::string target = UniqueKey() + ".meta";
  ASSERT_TRUE(servers().PutFile(target, testsupport::MakeMeta("other")));
  std::string to = "http://127.0.0.1:" + std::to_string(servers().nginx_port()) + "/" + target;
  EXPECT_TRUE(IsFileUpToDate(path_, servers().FaultUrl("/status/" + UniqueKey() + "?code=302&to=" + to)));
}

}  // namespace
