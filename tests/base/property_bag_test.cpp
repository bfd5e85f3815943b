#include "base/property_bag.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "base/wide_format.h"

namespace stubframework::app {
namespace {

class PropertyBagTest : public ::testing::Test {
 protected:
  base::PropertyBag bag_;
  base::CriticalSection lock_;
  base::LockedProperties props_{bag_, lock_};
};

TEST_F(PropertyBagTest, AbsentNameReadsEmptyAndThenAppearsInTheStore) {
  EXPECT_EQ(props_.GetProperty(L"neverSet"), L"");
  base::PropertyBag::Map dump = props_.Snapshot();
  ASSERT_EQ(dump.count(L"neverSet"), 1u);
  EXPECT_EQ(dump[L"neverSet"], L"");
}

TEST_F(PropertyBagTest, NamesAreCaseSensitiveAndOrderedOrdinally) {
  props_.SetProperty(L"Country", L"DE");
  props_.SetProperty(L"country", L"fr");
  EXPECT_EQ(props_.GetProperty(L"Country"), L"DE");
  EXPECT_EQ(props_.GetProperty(L"country"), L"fr");
  base::PropertyBag::Map dump = props_.Snapshot();
  ASSERT_EQ(dump.size(), 2u);
  EXPECT_EQ(dump.begin()->first, L"Country");  // 'C' < 'c'
}

TEST_F(PropertyBagTest, SetReplacesTheValue) {
  props_.SetProperty(L"downloadUrl", L"a");
  props_.SetProperty(L"downloadUrl", L"b");
  EXPECT_EQ(props_.GetProperty(L"downloadUrl"), L"b");
}

TEST_F(PropertyBagTest, TypedSetterStoresTheFullUnsignedRange) {
  props_.SetDownloadTotal(4294967295ul);
  EXPECT_EQ(props_.GetProperty(L"downloadTotal"), L"4294967295");
  props_.SetInstallCurrent(0);
  EXPECT_EQ(props_.GetProperty(L"installCurrent"), L"0");
}

TEST_F(PropertyBagTest, TypedGettersReadLeadingDigitsAndZeroOtherwise) {
  props_.SetProperty(L"downloadCurrent", L"12abc");
  EXPECT_EQ(props_.GetDownloadCurrent(), 12);
  props_.SetProperty(L"installTotal", L"");
  EXPECT_EQ(props_.GetInstallTotal(), 0);
  props_.SetProperty(L"installCurrent", L"abc");
  EXPECT_EQ(props_.GetInstallCurrent(), 0);
  props_.SetDownloadTotal(1048576);
  EXPECT_EQ(props_.GetDownloadTotal(), 1048576);
}

TEST_F(PropertyBagTest, ConcurrentWritersLoseNothing) {
  constexpr int kThreads = 8;
  constexpr int kPerThread = 500;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([this, t] {
      for (int i = 0; i < kPerThread; ++i) {
        props_.SetProperty(base::Format(L"t%d_%d", t, i), base::Format(L"%d", i));
        props_.GetProperty(base::Format(L"shared%d", i % 7));
      }
    });
  }
  for (auto& th : threads) th.join();
  base::PropertyBag::Map dump = props_.Snapshot();
  EXPECT_EQ(dump.size(), static_cast<size_t>(kThreads * kPerThread + 7));
  for (int t = 0; t < kThreads; ++t) {
    EXPECT_EQ(dump[base::Format(L"t%d_%d", t, kPerThread - 1)], base::Format(L"%d", kPerThread - 1));
  }
}

}  // namespace
}  // namespace stubframework::app
