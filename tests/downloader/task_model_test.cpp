// The task object model: the state word, reference counting, result codes and
// the engine's logger.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "base/log.h"
#include "downloader/download_logger.h"
#include "downloader/object.h"
#include "downloader/result_codes.h"
#include "downloader/task_lock.h"
#include "support/linked_log.h"
#include "object_count.h"

namespace downloader = stubframework::downloader;

namespace {

using downloader::details::LiveObjects;

using downloader::details::Object;

class FakeTask : public downloader::details::TaskLock<FakeTask, long> {
 public:
  long result = 12345;
  int aborts = 0;
  void Abort() { ++aborts; }
  using TaskLock::Begin;
  using TaskLock::Enter;
  using TaskLock::Finish;
  using TaskLock::Leave;
  using TaskLock::StateWord;
};

TEST(TaskLock, StartCountsTheStartCallAsOneActivity) {
  FakeTask task;
  EXPECT_EQ(task.StateWord(), -1);
  task.Begin();
  EXPECT_EQ(task.StateWord(), 1);
  task.Begin();  // a second start changes nothing
  EXPECT_EQ(task.StateWord(), 1);
  task.Leave();
  EXPECT_EQ(task.StateWord(), 0);
  EXPECT_EQ(task.aborts, 0);
}

TEST(TaskLock, FinishWithNothingInsideAbortsAtOnceAndFirstResultWins) {
  FakeTask task;
  task.Begin();
  task.Leave();
  task.Finish(-7);
  EXPECT_EQ(task.aborts, 1);
  EXPECT_EQ(task.result, -7);
  EXPECT_EQ(static_cast<unsigned long>(task.StateWord()), 0x80000000UL);
  task.Finish(-9);
  task.Finish(0);
  EXPECT_EQ(task.result, -7);
  EXPECT_EQ(task.aborts, 1);
  EXPECT_FALSE(task.Enter());
  EXPECT_EQ(static_cast<unsigned long>(task.StateWord()), 0x80000000UL);
}

TEST(TaskLock, FinishWhileActiveAbortsWhenTheLastActivityLeaves) {
  FakeTask task;
  task.Begin();             // 1: the Start call
  ASSERT_TRUE(task.Enter());  // 2: a handler
  task.Finish(-3);
  EXPECT_EQ(task.aborts, 0);
  EXPECT_FALSE(task.Enter());
  task.Leave();
  EXPECT_EQ(task.aborts, 0);
  task.Leave();
  EXPECT_EQ(task.aborts, 1);
  EXPECT_EQ(task.result, -3);
}

TEST(TaskLock, FinishBeforeStartDoesNothing) {
  FakeTask task;
  task.Finish(-1);
  EXPECT_EQ(task.StateWord(), -1);
  EXPECT_EQ(task.result, 12345);
  EXPECT_EQ(task.aborts, 0);
}

class Probe : public downloader::IObject {
 public:
  explicit Probe(int* destroyed) : destroyed_(destroyed) {}
  ~Probe() { ++*destroyed_; }

 private:
  int* destroyed_;
};

TEST(ObjectModel, LastReleaseDestroysExactlyOnce) {
  long before = LiveObjects();
  int destroyed = 0;
  Object<Probe>* probe = Object<Probe>::Create(&destroyed);
  ASSERT_NE(probe, nullptr);
  EXPECT_EQ(LiveObjects(), before + 1);
  probe->AddRef();
  probe->Release();
  EXPECT_EQ(destroyed, 0);
  probe->Release();
  EXPECT_EQ(destroyed, 1);
  EXPECT_EQ(LiveObjects(), before);
}

class Throwing : public downloader::IObject {
 public:
  Throwing() { throw std::bad_alloc(); }
};

TEST(ObjectModel, AFailedConstructionYieldsNull) {
  long before = LiveObjects();
  EXPECT_EQ(Object<Throwing>::Create(), nullptr);
  EXPECT_EQ(LiveObjects(), before);
}

// What a constructor does where there are no exceptions: it says so.
class Unfinished : public downloader::IObject {
 public:
  explicit Unfinished(bool finished) : finished_(finished) {}
  bool Constructed() const { return finished_; }

 private:
  bool finished_;
};

TEST(ObjectModel, AnObjectThatWasNotConstructedYieldsNullAndIsGone) {
  long before = LiveObjects();
  EXPECT_EQ(Object<Unfinished>::Create(false), nullptr);
  EXPECT_EQ(LiveObjects(), before);
  Object<Unfinished>* whole = Object<Unfinished>::Create(true);
  ASSERT_NE(whole, nullptr);
  EXPECT_EQ(LiveObjects(), before + 1);
  whole->Release();
  EXPECT_EQ(LiveObjects(), before);
}

TEST(ResultCodes, Win32ErrorsMapIntoTheWin32Facility) {
  EXPECT_EQ(downloader::ResultFromWin32(0), 0);
  EXPECT_EQ(downloader::ResultFromWin32(-5), -5);
  EXPECT_EQ(downloader::ResultFromWin32(12017), downloader::kResultHttpCancelled);
  EXPECT_EQ(downloader::ResultFromWin32(12027), downloader::kResultBadFormat);
  EXPECT_EQ(downloader::ResultFromWin32(112), downloader::kResultDiskFull);
  EXPECT_EQ(downloader::ResultFromWin32(0x12345), static_cast<long>(0x80072345));
}

// Keeps every line it is given, with its level.
class RecordingLog : public stubframework::base::Log {
 public:
  void Write(int level, const wchar_t* format, va_list args) override {
    wchar_t line[4096];
    _vsnwprintf(line, 4095, format, args);
    line[4095] = L'\0';
    lines.emplace_back(level, line);
  }
  std::vector<std::pair<int, std::wstring>> lines;
};

TEST(DownloadLogger, WritesContextAndMessageAtTraceLevelCutTo1023Characters) {
  RecordingLog log;
  downloader::ILogger* logger = stubframework::downloader::CreateDownloadLogger(&log);
  ASSERT_NE(logger, nullptr);
  logger->Log(L"HttpTask::Start", L"Start %s (OFFSET:%lld,SIZE:%lld,ETAG:%S).", L"http://h/x", 5LL, 6LL, "\"e\"");
  std::wstring longText(3000, L'x');
  logger->Log(L"Ctx::Long", L"%s", longText.c_str());
  logger->Release();

  ASSERT_EQ(log.lines.size(), 2u);
  EXPECT_EQ(log.lines[0].first, stubframework::base::kLogTrace);
  EXPECT_EQ(log.lines[0].second, L"HttpTask::Start> Start http://h/x (OFFSET:5,SIZE:6,ETAG:\"e\").");
  EXPECT_EQ(log.lines[1].first, stubframework::base::kLogTrace);
  EXPECT_EQ(log.lines[1].second, L"Ctx::Long> " + std::wstring(1023, L'x'));
}

// A task may log after its starter returned and the log's owner let go of
// the log (a request closing on a pool thread): such a line goes nowhere,
// while every line before reaches the log unchanged.
TEST(DownloadLogger, ALineAfterTheOwnerLetGoOfTheLogDoesNotReachIt) {
  testsupport::LinkedLog log;
  downloader::ILogger* logger = stubframework::downloader::CreateDownloadLogger(&log);
  ASSERT_NE(logger, nullptr);
  logger->Log(L"HttpTask::Cancel", L"Cancel");
  log.Retire();
  logger->Log(L"HttpTask::InternetStatusCallback", L"late %d", 1);
  logger->Release();
  EXPECT_EQ(log.after_retired(), 0);
  EXPECT_EQ(log.lines(), std::vector<std::wstring>{L"HttpTask::Cancel> Cancel"});
}

TEST(DownloadLogger, WithoutSinkDropsEveryMessage) {
  downloader::ILogger* logger = stubframework::downloader::CreateDownloadLogger(nullptr);
  ASSERT_NE(logger, nullptr);
  logger->Log(L"X::Y", L"dropped %d", 1);  // must not crash
  logger->Release();
}

}  // namespace
