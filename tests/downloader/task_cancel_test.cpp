// Cancel from other threads: exactly one OnComplete, the cancel code, and no
// engine object left alive.
//
// Under Wine, closing a WinINet request does not abort a read that waits for
// data, and closing a request with an unread body first reads the rest. The
// slow server therefore sends a piece every few milliseconds, and its bodies
// are short: a cancel ends the task within one piece on Windows, and within
// the rest of the body under Wine.
#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <thread>
#include <vector>

#include "base/unique_handle.h"
#include "downloader/http_task.h"
#include "downloader/http_to_file_task.h"
#include "downloader/http_to_mem_task.h"
#include "downloader/result_codes.h"
#include "downloader/timeouts.h"
#include "engine_test_util.h"
#include "object_count.h"
#include "support/test_servers.h"

namespace downloader = stubframework::downloader;

namespace {

using downloader::details::LiveObjects;
using testsupport::FileRecorder;
using testsupport::HttpRecorder;
using testsupport::Make;
using testsupport::MemRecorder;
using testsupport::RecordingLogger;
using testsupport::Ref;
using testsupport::UniqueKey;

using Clock = std::chrono::steady_clock;

long Ms(Clock::duration d) { return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(d).count()); }

// Waits until the live-object count drops to `target` (WinINet threads may
// still be returning from the last callback).
// A cancelled HttpTask delivers its end at once and lives on until WinINet
// lets go of its request (under Wine once the body is read or the receive
// timeout fires; seconds when hundreds close at once under load): a leak is
// what is still alive after that.
long SettleLiveObjects(long target) {
  for (DWORD waited = 0; waited < downloader::kReceiveTimeoutMs + 5000 && LiveObjects() != target; waited += 10) {
    ::Sleep(10);
  }
  return LiveObjects();
}

class TaskCancelTest : public testsupport::ServerTest {};

TEST_F(TaskCancelTest, CancelWhileWaitingForDataEndsOnceWithCancelCode) {
  long before = LiveObjects();
  {
    auto logger = Make<RecordingLogger>();
    auto recorder = Make<HttpRecorder>();
    std::string key = UniqueKey();
    downloader::ITask* task = downloader::CreateHttpTask(
        servers().FaultUrl("/slow/" + key + "?size=20000&chunk=500&ms=10"), downloader::HttpRange(),
        recorder.get(), logger.get());
    ASSERT_NE(task, nullptr);
    task->Start();
    for (int i = 0; i < 500 && recorder->chunks() == 0; ++i) ::Sleep(5);
    ASSERT_GT(recorder->chunks(), 0);
    auto cancelled_at = Clock::now();
    task->Cancel();
    ASSERT_TRUE(recorder->Wait(30000));
    long took = Ms(Clock::now() - cancelled_at);
    task->Cancel();  // after the end: changes nothing
    task->Release();
    ::Sleep(50);
    EXPECT_EQ(recorder->completions(), 1);
    EXPECT_EQ(recorder->result(), downloader::kResultHttpCancelled);
    EXPECT_NE(recorder->complete_thread(), ::GetCurrentThreadId());
    EXPECT_LT(recorder->body().size(), 20000u);
    EXPECT_TRUE(logger->Has(L"HttpTask::Cancel> Cancel")) << logger->Dump();
    printf("cancel to OnComplete: %ld ms, %zu of 20000 bytes delivered\n", took, recorder->body().size());
  }
  EXPECT_EQ(SettleLiveObjects(before), before);
}

// A server that sends nothing for a while: on Windows closing the request ends
// the wait at once; under Wine the wait ends only when the server closes (or
// the 30 s receive timeout fires), so the server here gives up after 1.5 s.
TEST_F(TaskCancelTest, CancelDuringAStallEndsWithCancelCodeOnce) {
  auto logger = Make<RecordingLogger>();
  auto recorder = Make<HttpRecorder>();
  downloader::ITask* task = downloader::CreateHttpTask(
      servers().FaultUrl("/stall/" + UniqueKey() + "?size=5000&after=100&ms=1500"), downloader::HttpRange(),
      recorder.get(), logger.get());
  ASSERT_NE(task, nullptr);
  task->Start();
  for (int i = 0; i < 500 && recorder->chunks() == 0; ++i) ::Sleep(5);
  ASSERT_GT(recorder->chunks(), 0);
  ::Sleep(50);  // now the read waits for data that does not come
  auto cancelled_at = Clock::now();
  task->Cancel();
  ASSERT_TRUE(recorder->Wait(40000));
  long took = Ms(Clock::now() - cancelled_at);
  task->Release();
  ::Sleep(20);
  EXPECT_EQ(recorder->completions(), 1);
  EXPECT_EQ(recorder->result(), downloader::kResultHttpCancelled);
  printf("cancel during a stall to OnComplete: %ld ms\n", took);
}

TEST_F(TaskCancelTest, CancelBeforeStartDoesNothingAndTheTaskStillRuns) {
  auto logger = Make<RecordingLogger>();
  auto recorder = Make<MemRecorder>();
  downloader::ITask* task =
      downloader::CreateHttpToMemTask(servers().FaultUrl("/ok/" + UniqueKey() + "?size=100"), recorder.get(),
                                      logger.get());
  ASSERT_NE(task, nullptr);
  task->Cancel();
  task->Start();
  ASSERT_TRUE(recorder->Wait());
  task->Cancel();
  task->Release();
  EXPECT_EQ(recorder->result(), 0);
  EXPECT_EQ(recorder->size(), 100u);
  EXPECT_EQ(recorder->completions(), 1);
}

TEST_F(TaskCancelTest, CancelledFileTransferReportsTheCancelCodeNotTheSubTasks) {
  long before = LiveObjects();
  {
    auto logger = Make<RecordingLogger>();
    auto recorder = Make<FileRecorder>();
    std::wstring path = testsupport::TempFilePath(L"cancel");
    stubframework::base::UniqueHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                                          FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(file.IsValid());
    downloader::ITask* task = downloader::CreateHttpToFileTask(
        servers().FaultUrl("/slow/" + UniqueKey() + "?size=20000&chunk=500&ms=10"), file.Get(), 0, 20000,
        recorder.get(), logger.get());
    ASSERT_NE(task, nullptr);
    task->Start();
    for (int i = 0; i < 500 && recorder->reports().empty(); ++i) ::Sleep(5);
    task->Cancel();
    ASSERT_TRUE(recorder->Wait(30000));
    task->Release();
    EXPECT_EQ(recorder->result(), downloader::kResultHttpCancelled);
    EXPECT_TRUE(logger->Has(L"HttpToFileTask::Cancel> Cancel.")) << logger->Dump();
    EXPECT_TRUE(logger->Has(L"HttpTask::Cancel> Cancel")) << logger->Dump();
    file.Reset();
    ::DeleteFileW(path.c_str());
  }
  EXPECT_EQ(SettleLiveObjects(before), before);
}

// Holds the only reference on its task and drops it inside OnComplete.
class ReleasingRecorder : public testsupport::MemRecorder {
 public:
  void OnComplete(downloader::HttpToMemResult&& result) override {
    downloader::ITask* task = task_;
    task_ = nullptr;
    task->Release();  // the task's last reference but one (its own, released after this returns)
    MemRecorder::OnComplete(std::move(result));
  }
  downloader::ITask* task_ = nullptr;
};

TEST_F(TaskCancelTest, LastReleaseInsideOnCompleteDestroysOnce) {
  long before = LiveObjects();
  {
    auto logger = Make<RecordingLogger>();
    auto recorder = Make<ReleasingRecorder>();
    recorder->task_ = downloader::CreateHttpToMemTask(servers().FaultUrl("/ok/" + UniqueKey() + "?size=100"),
                                                      recorder.get(), logger.get());
    ASSERT_NE(recorder->task_, nullptr);
    recorder->task_->Start();
    ASSERT_TRUE(recorder->Wait());
    EXPECT_EQ(recorder->result(), 0);
  }
  EXPECT_EQ(SettleLiveObjects(before), before);
}

TEST_F(TaskCancelTest, LastReleaseInsideAnEndDeliveredDuringStart) {
  long before = LiveObjects();
  {
    auto logger = Make<RecordingLogger>();
    auto recorder = Make<ReleasingRecorder>();
    // An unsupported scheme ends inside Start, on the calling thread.
    recorder->task_ = downloader::CreateHttpToMemTask(L"ftp://127.0.0.1/" + testsupport::Widen(UniqueKey()),
                                                      recorder.get(), logger.get());
    ASSERT_NE(recorder->task_, nullptr);
    recorder->task_->Start();
    ASSERT_TRUE(recorder->Wait(0));
    EXPECT_EQ(recorder->result(), downloader::kResultInvalidUrl);
  }
  EXPECT_EQ(SettleLiveObjects(before), before);
}

// One start/cancel cycle of a random kind of task with a random delay.
void Cycle(const testsupport::TestServers& servers, std::mt19937& random, int* failures, int* cancelled,
           long* slowest_ms) {
  auto logger = Make<RecordingLogger>();
  std::string url = "/slow/" + UniqueKey() + "?size=6000&chunk=300&ms=5";
  int kind = static_cast<int>(random() % 3);
  // The body takes about 100 ms: most cancels meet a running transfer, some
  // come after the end (and must change nothing).
  int delay_us = static_cast<int>(random() % 150000);
  testsupport::Completion* completion = nullptr;
  downloader::ITask* task = nullptr;
  Ref<testsupport::Object<HttpRecorder>> http;
  Ref<testsupport::Object<MemRecorder>> mem;
  Ref<testsupport::Object<FileRecorder>> file_recorder;
  std::wstring path;
  stubframework::base::UniqueHandle file;
  if (kind == 0) {
    http = Make<HttpRecorder>();
    completion = http.get();
    task = downloader::CreateHttpTask(servers.FaultUrl(url), downloader::HttpRange(), http.get(), logger.get());
  } else if (kind == 1) {
    mem = Make<MemRecorder>();
    completion = mem.get();
    task = downloader::CreateHttpToMemTask(servers.FaultUrl(url), mem.get(), logger.get());
  } else {
    file_recorder = Make<FileRecorder>();
    completion = file_recorder.get();
    path = testsupport::TempFilePath(L"cycle" + std::to_wstring(random()));
    file.Reset(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    task = downloader::CreateHttpToFileTask(servers.FaultUrl(url), file.Get(), 0, 6000, file_recorder.get(),
                                            logger.get());
  }
  if (task == nullptr) {
    ++*failures;
    return;
  }
  task->Start();
  std::this_thread::sleep_for(std::chrono::microseconds(delay_us));
  auto cancelled_at = Clock::now();
  task->Cancel();
  task->Release();
  if (!completion->Wait(30000)) {
    ++*failures;
    return;
  }
  long took = Ms(Clock::now() - cancelled_at);
  if (took > *slowest_ms) *slowest_ms = took;
  ::Sleep(1);
  long r = completion->result();
  // The end is the cancel code, or success when the body beat the cancel.
  bool result_ok = r == downloader::kResultHttpCancelled || r == 0;
  if (completion->completions() != 1 || !result_ok) ++*failures;
  if (r == downloader::kResultHttpCancelled) ++*cancelled;
  file.Reset();
  if (!path.empty()) ::DeleteFileW(path.c_str());
}

TEST_F(TaskCancelTest, FiveHundredStartCancelCyclesEndOnceEachAndLeaveNothingAlive) {
  long before = LiveObjects();
  constexpr int kThreads = 10;
  constexpr int kCyclesEach = 50;
  std::vector<int> failures(kThreads, 0);
  std::vector<int> cancels(kThreads, 0);
  std::vector<long> slowest(kThreads, 0);
  std::vector<std::thread> threads;
  auto started = Clock::now();
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      std::mt19937 random(static_cast<unsigned>(t * 7919 + ::GetTickCount()));
      for (int i = 0; i < kCyclesEach; ++i) Cycle(servers(), random, &failures[t], &cancels[t], &slowest[t]);
    });
  }
  for (auto& thread : threads) thread.join();
  int failed = 0;
  int cancelled = 0;
  long slowest_ms = 0;
  for (int t = 0; t < kThreads; ++t) {
    failed += failures[t];
    cancelled += cancels[t];
    if (slowest[t] > slowest_ms) slowest_ms = slowest[t];
  }
  EXPECT_EQ(failed, 0);
  // Many cancels must have met a running transfer, or the test proved little.
  EXPECT_GT(cancelled, kThreads * kCyclesEach / 4);
  EXPECT_LT(cancelled, kThreads * kCyclesEach);
  EXPECT_EQ(SettleLiveObjects(before), before);
  printf("%d cycles (%d ended by the cancel) in %ld ms; slowest cancel-to-end %ld ms\n", kThreads * kCyclesEach,
         cancelled, Ms(Clock::now() - started), slowest_ms);
}

}  // namespace
