// The meta file's arithmetic: its length for a file size, and the check on
// its head that bounds what a server may make the engine allocate for it.
#include "downloader/download_meta.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace downloader = stubframework::downloader;

namespace {

using downloader::int64;

constexpr int64 kMiB = 1048576;
constexpr int64 kMaxBlocks = 0x4000000;  // a meta lists fewer than 2^26 blocks

std::string Head(int64 size) {
  std::string head(8, '\0');
  for (int i = 0; i < 8; ++i) head[i] = static_cast<char>((static_cast<uint64_t>(size) >> (8 * i)) & 0xFF);
  return head;
}

bool Fits(int64 size, int64 length) {
  std::string head = Head(size);
  return downloader::MetaLengthFitsHead(reinterpret_cast<const downloader::uint8*>(head.data()), length);
}

TEST(DownloadMeta, LengthIsEightBytesAndTwentyPerStartedMiB) {
  const std::pair<int64, int64> cases[] = {
      {0, 8}, {1, 28}, {kMiB - 1, 28}, {kMiB, 28}, {kMiB + 1, 48}, {10 * kMiB, 208},
      {(kMaxBlocks - 1) * kMiB, 8 + 20 * (kMaxBlocks - 1)},
  };
  for (const auto& c : cases) EXPECT_EQ(downloader::MetaLength(c.first), c.second) << c.first;
}

TEST(DownloadMeta, HeadAcceptsNoMoreThanItsSizeNeeds) {
  EXPECT_TRUE(Fits(kMiB + 1, 48));
  EXPECT_FALSE(Fits(kMiB + 1, 49));
  EXPECT_TRUE(Fits(kMiB + 1, 20)) << "shorter is refused when parsed, not here";
  EXPECT_TRUE(Fits(0, 8));
  EXPECT_FALSE(Fits(0, 9));
  EXPECT_FALSE(Fits(1, 0x7FFFFFFE)) << "a 2 GB body for a one-block file";
  // The largest size a meta may announce, and the first it may not.
  EXPECT_TRUE(Fits((kMaxBlocks - 1) * kMiB, 8 + 20 * (kMaxBlocks - 1)));
  EXPECT_FALSE(Fits((kMaxBlocks - 1) * kMiB + 1, 8 + 20 * kMaxBlocks));
  EXPECT_FALSE(Fits(-1, 8));
  EXPECT_FALSE(Fits(INT64_MAX, 8)) << "no overflow on the way";
}

TEST(DownloadMeta, ASizeNearTheTopOfTheRangeIsInvalidNotOverflowed) {
  for (int64 size : {INT64_MAX, INT64_MAX - kMiB + 2, kMaxBlocks * kMiB}) {
    std::string meta = Head(size);
    downloader::DownloadMeta parsed;
    EXPECT_FALSE(downloader::ParseDownloadMeta(reinterpret_cast<const downloader::uint8*>(meta.data()), meta.size(),
                                               &parsed))
        << size;
  }
  EXPECT_GT(downloader::BlockCount(INT64_MAX), 0);
}

}  // namespace
