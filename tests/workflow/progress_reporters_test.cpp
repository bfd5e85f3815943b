// The reporter threads and their arithmetic, with a property store of their
// own and a publisher that records what the page would receive.
#include "workflow/progress_reporters.h"

#include <gtest/gtest.h>

#include <array>
#include <mutex>
#include <vector>

#include "base/unique_handle.h"
#include "workflow/download_properties.h"
#include "workflow/progress_record.h"

namespace stubframework::workflow {
namespace {

TEST(ProgressReportersTest, TransferStopsAtNinetyFivePercentWhenExtractionFollows) {
  EXPECT_EQ(ShownTransferCurrent(1000, false), 1000u);
  EXPECT_EQ(ShownTransferCurrent(1000, true), 950u);
  EXPECT_EQ(ShownTransferCurrent(1001, true), 950u) << "truncated";
  EXPECT_EQ(ShownTransferCurrent(0xFFFFFFFFu, true), 4080218930u) << "the 32-bit count, unsigned";
}

TEST(ProgressReportersTest, ExtractionFillsTheLastFivePercent) {
  EXPECT_EQ(ExtractionDownloadCurrent(0, 26, 1000), 950) << "950.5 truncated";
  EXPECT_EQ(ExtractionDownloadCurrent(1, 30, 1000), 967);
  EXPECT_EQ(ExtractionDownloadCurrent(3, 30, 1000), 1000);
  EXPECT_EQ(ExtractionDownloadCurrent(2, 26, 1000), 988);  // a tenth of 26 entries, truncated, never all
  EXPECT_EQ(ExtractionDownloadCurrent(0, 0, 1000), 950) << "no entries counted yet: no division by zero";
  EXPECT_EQ(ExtractionDownloadCurrent(0, 1, 1), 1) << "a download that never set its total";
}

// A store, a context and a recording publisher; the test plays the worker.
class ProgressReporterThreadTest : public ::testing::Test {
 protected:
  ProgressReporterThreadTest()
      : context_(
            base::LockedProperties(bag_, lock_),
            [this](int result, uint64_t total, uint64_t current) {
              std::lock_guard<std::mutex> hold(mutex_);
              calls_.push_back({static_cast<uint64_t>(result), total, current});
            },
            L"http://h/x") {}

  // A case that failed before its reporter ended stops it here: the thread
  // uses this fixture's context, which must outlive it.
  void TearDown() override {
    if (thread_ && ::WaitForSingleObject(thread_.Get(), 0) == WAIT_TIMEOUT) {
      context_.SetResult(kAbort);
      ::WaitForSingleObject(thread_.Get(), INFINITE);
    }
  }

  base::LockedProperties& properties() { return context_.properties; }
  void Start(LPTHREAD_START_ROUTINE reporter) {
    thread_.Reset(::CreateThread(nullptr, 0, reporter, &context_, 0, nullptr));
    ASSERT_TRUE(thread_);
  }
  // Waits until the reporter has published `count` calls.
  void WaitForCalls(size_t count) {
    for (int i = 0; i < 5000 && Calls().size() < count; ++i) ::Sleep(1);
    ASSERT_GE(Calls().size(), count);
  }
  bool Ends() { return ::WaitForSingleObject(thread_.Get(), 5000) == WAIT_OBJECT_0; }
  std::vector<std::array<uint64_t, 3>> Calls() {
    std::lock_guard<std::mutex> hold(mutex_);
    return calls_;
  }

  base::PropertyBag bag_;
  base::CriticalSection lock_;
  ReporterContext context_;
  base::UniqueHandle thread_;
  std::mutex mutex_;
  std::vector<std::array<uint64_t, 3>> calls_;
};

TEST_F(ProgressReporterThreadTest, TransferReporterPublishesUntilTheCountReachesTheTotal) {
  properties().SetDownloadTotal(5000);
  properties().SetDownloadCurrent(1200);
  Start(DownloadProgressThreadFunc);
  WaitForCalls(2);
  EXPECT_EQ(context_.Result(), kRunning);
  EXPECT_EQ(Calls()[0], (std::array<uint64_t, 3>{10, 5000, 1200}));
  properties().SetDownloadCurrent(5003);  // more than announced
  ASSERT_TRUE(Ends());
  EXPECT_EQ(context_.Result(), kNoError);
  EXPECT_EQ(Calls().back(), (std::array<uint64_t, 3>{10, 5000, 5003}));
  EXPECT_EQ(properties().GetProperty(L"downloadCurrent"), L"5000") << "capped at the total";
  EXPECT_EQ(context_.record.total, 5000u);
}

TEST_F(ProgressReporterThreadTest, TransferReporterShowsNinetyFivePercentWhenExtractionFollows) {
  properties().SetProperty(kExtractInDownloadProgress, kTrue);
  properties().SetDownloadTotal(2000);
  properties().SetDownloadCurrent(2000);
  Start(DownloadProgressThreadFunc);
  ASSERT_TRUE(Ends());
  ASSERT_EQ(Calls().size(), 1u);
  EXPECT_EQ(Calls()[0], (std::array<uint64_t, 3>{10, 2000, 1900}));
  EXPECT_EQ(context_.record.current, 1900u);
}

TEST_F(ProgressReporterThreadTest, AResultStoredByTheWorkerStopsTheReporter) {
  properties().SetDownloadTotal(100);
  properties().SetDownloadCurrent(1);
  Start(DownloadProgressThreadFunc);
  WaitForCalls(1);
  context_.SetResult(kAbort);
  ASSERT_TRUE(Ends());
  EXPECT_EQ(context_.Result(), kAbort);
  size_t published = Calls().size();
  ::Sleep(20);
  EXPECT_EQ(Calls().size(), published);
}

TEST_F(ProgressReporterThreadTest, TransferReporterPublishesAtARateAPersonCanSee) {
  // The worker counts up all the time; the page hears of it once per
  // interval, not once per count.
  properties().SetDownloadTotal(1000000);
  properties().SetDownloadCurrent(0);
  Start(DownloadProgressThreadFunc);
  const DWORD begun = ::GetTickCount();
  unsigned long current = 0;
  while (::GetTickCount() - begun < 600) {
    properties().SetDownloadCurrent(++current);
    ::Sleep(1);
  }
  const DWORD elapsed = ::GetTickCount() - begun;
  const size_t published = Calls().size();
  context_.SetResult(kAbort);
  ASSERT_TRUE(Ends());
  EXPECT_GE(published, 2u) << "the bar moves while the transfer runs";
  EXPECT_LE(published, elapsed / kReportIntervalMs + 2) << "one call per interval at most";
  EXPECT_GT(Calls().back()[2], 0u);
}

// With an interval far longer than the test, only the worker's wake can end
// the reporter in time.
TEST_F(ProgressReporterThreadTest, TheWorkersWakeEndsTheReporterWithoutWaitingForTheInterval) {
  struct Case {
    const char* name;
    bool count_completes;  // else the worker stores a failure
    int result;
  };
  for (const Case& c : {Case{"count completed", true, kNoError}, Case{"failure stored", false, kFailure}}) {
    SCOPED_TRACE(c.name);
    calls_.clear();
    context_.record = ProgressRecord();
    context_.interval_ms = 60000;
    properties().SetDownloadTotal(300);
    properties().SetDownloadCurrent(100);
    Start(DownloadProgressThreadFunc);
    WaitForCalls(1);
    if (c.count_completes) {
      properties().SetDownloadCurrent(300);
      context_.Wake();
    } else {
      context_.SetResult(c.result);
    }
    ASSERT_TRUE(Ends());
    EXPECT_EQ(context_.Result(), c.result);
    if (c.count_completes) {
      EXPECT_EQ(Calls().back(), (std::array<uint64_t, 3>{10, 300, 300}));
    }
  }
}

TEST_F(ProgressReporterThreadTest, InstallReporterFollowsTheInstallCounters) {
  properties().SetDownloadTotal(777);  // not looked at outside extraction
  properties().SetInstallTotal(40);
  properties().SetInstallCurrent(3);
  Start(InstallProgressThreadFunc);
  WaitForCalls(1);
  EXPECT_EQ(Calls()[0], (std::array<uint64_t, 3>{10, 40, 3}));
  properties().SetInstallCurrent(41);
  ASSERT_TRUE(Ends());
  EXPECT_EQ(context_.Result(), kNoError);
  EXPECT_EQ(Calls().back(), (std::array<uint64_t, 3>{10, 40, 41}));
  EXPECT_EQ(properties().GetProperty(L"installCurrent"), L"40");
  EXPECT_EQ(properties().GetProperty(L"downloadCurrent"), L"") << "left alone";
}

TEST_F(ProgressReporterThreadTest, InstallReporterDuringExtractionFillsTheDownloadsLastFivePercent) {
  properties().SetProperty(kExtractInDownloadProgress, kTrue);
  properties().SetDownloadTotal(1000);
  properties().SetInstallTotal(30);
  properties().SetInstallCurrent(0);
  Start(InstallProgressThreadFunc);
  WaitForCalls(1);
  EXPECT_EQ(Calls()[0], (std::array<uint64_t, 3>{10, 1000, 950}));
  properties().SetInstallCurrent(1);
  WaitForCalls(Calls().size() + 2);
  EXPECT_EQ(Calls().back(), (std::array<uint64_t, 3>{10, 1000, 967}));
  EXPECT_EQ(properties().GetProperty(L"downloadCurrent"), L"967");
  properties().SetInstallCurrent(3);
  ASSERT_TRUE(Ends());
  EXPECT_EQ(Calls().back(), (std::array<uint64_t, 3>{10, 1000, 1000}));
  EXPECT_EQ(properties().GetProperty(L"installCurrent"), L"1000") << "set to the record's total";
}

}  // namespace
}  // namespace stubframework::workflow
