// The read size of the HTTP task: grows while reads come back quickly, falls
// at once to what the rate fills in the target time, stays within its bounds.
#include "downloader/read_size.h"

#include <gtest/gtest.h>

namespace downloader = stubframework::downloader;

namespace {

using downloader::kMaxReadSize;
using downloader::kMinReadSize;
using downloader::kTargetReadMicros;

constexpr size_t kKiB = 1024;

struct Case {
  const char* what;
  size_t asked;
  size_t got;
  long long micros;
  size_t next;
};

TEST(ReadSizeTest, NextReadSizeFollowsTheRate) {
  const Case cases[] = {
      {"a full read in half the target time doubles", 64 * kKiB, 64 * kKiB, kTargetReadMicros / 2, 128 * kKiB},
      {"an instant full read doubles", kMinReadSize, kMinReadSize, 0, 2 * kMinReadSize},
      {"doubling stops at the maximum", kMaxReadSize, kMaxReadSize, 0, kMaxReadSize},
      {"half the maximum doubles to it", kMaxReadSize / 2, kMaxReadSize / 2, 10, kMaxReadSize},
      {"just over half the target keeps the size", 64 * kKiB, 64 * kKiB, kTargetReadMicros / 2 + 1, 64 * kKiB},
      {"exactly the target keeps the size", 64 * kKiB, 64 * kKiB, kTargetReadMicros, 64 * kKiB},
      {"a short quick read (end of body) keeps the size", 256 * kKiB, 1000, 5, 256 * kKiB},
      // 1 MiB in 250 ms is 4 MiB/s: 100 ms of it is 400 KiB, a power of two below: 256 KiB.
      {"4 MiB/s falls to 256 KiB", kMaxReadSize, kMaxReadSize, 250000, 256 * kKiB},
      {"just over the target halves", 64 * kKiB, 64 * kKiB, kTargetReadMicros + 1, 32 * kKiB},
      {"128 KiB in twice the target falls to 64 KiB", kMaxReadSize, 128 * kKiB, kTargetReadMicros * 2,
       64 * kKiB},
      {"a crawl falls to the minimum, not below", kMaxReadSize, kMaxReadSize, 60 * 1000000LL, kMinReadSize},
      {"a slow read that got nothing falls to the minimum", 64 * kKiB, 0, 30 * 1000000LL, kMinReadSize},
      {"a size below the minimum is raised to it", 100, 100, kTargetReadMicros, kMinReadSize},
      {"a size above the maximum is cut to it", 4 * kMaxReadSize, 4 * kMaxReadSize, kTargetReadMicros,
       kMaxReadSize},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(downloader::NextReadSize(c.asked, c.got, c.micros), c.next) << c.what;
  }
}

// Wherever it starts, a steady rate settles on a read that takes at most the
// target time (so a stop lands within it) and at least a quarter of it; a
// rate too slow to fill the minimum in the target time reads the minimum.
TEST(ReadSizeTest, NextReadSizeSettlesWithinTheTargetAtSteadyRates) {
  const double rates[] = {20e3, 100e3, 500e3, 4e6, 40e6};  // bytes per second
  for (double rate : rates) {
    for (size_t start : {kMinReadSize, kMaxReadSize}) {
      size_t size = start;
      for (int i = 0; i < 40; ++i) {
        long long micros = static_cast<long long>(size / rate * 1e6);
        size = downloader::NextReadSize(size, size, micros);
      }
      long long micros = static_cast<long long>(size / rate * 1e6);
      if (rate * kTargetReadMicros / 1e6 < kMinReadSize) {
        EXPECT_EQ(size, kMinReadSize) << rate << " B/s from " << start;
        continue;
      }
      EXPECT_LE(micros, kTargetReadMicros) << rate << " B/s from " << start;
      if (size > kMinReadSize && size < kMaxReadSize) {
        EXPECT_GE(micros, kTargetReadMicros / 4) << rate << " B/s from " << start;
      }
    }
  }
}

TEST(ReadSizeTest, ReadRequestSizeATrickleIsReadAsItComesAFullBufferAsTheRateAllows) {
  struct Case {
    const char* what;
    size_t sized;
    size_t available;
    size_t ask;
  };
  const Case cases[] = {
      {"two bytes waiting: two bytes, not a read that waits for more", 256 * kKiB, 2, 2},
      {"just below the minimum waiting: exactly that", 256 * kKiB, kMinReadSize - 1, kMinReadSize - 1},
      {"the minimum waiting: what the rate allows", 256 * kKiB, kMinReadSize, 256 * kKiB},
      {"more waiting than the rate allows: all of it", 8 * kKiB, 100000, 100000},
      {"more waiting than the maximum: the maximum", kMaxReadSize, 3 * kMaxReadSize, kMaxReadSize},
  };
  for (const Case& c : cases) EXPECT_EQ(downloader::ReadRequestSize(c.sized, c.available), c.ask) << c.what;
}

}  // namespace
