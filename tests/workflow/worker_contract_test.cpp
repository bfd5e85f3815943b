// The thread contract of a run: the worker set that owns every worker and
// its stop event, the run state that joins them, and the wait an installer
// worker makes for its program.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>

#include "base/unique_handle.h"
#include "base/worker_set.h"
#include "htmlui/page_callback.h"
#include "htmlui/run_state.h"
#include "workflow/child_wait.h"

namespace stubframework::workflow {
namespace {

// A worker that ends when the run's stop event is set, or after `limit_ms`.
struct StopWaiter {
  HANDLE stop;
  DWORD limit_ms;
  std::atomic<int> ended{0};
};
DWORD WINAPI WaitForStop(void* parameter) {
  auto* job = static_cast<StopWaiter*>(parameter);
  ::WaitForSingleObject(job->stop, job->limit_ms);
  ++job->ended;
  return 0;
}

// A worker that ignores the stop event and ends only when released.
DWORD WINAPI WaitForRelease(void* parameter) {
  ::WaitForSingleObject(static_cast<HANDLE>(parameter), INFINITE);
  return 0;
}

// A worker whose last act needs the owner's thread: a message sent to a
// window of that thread, answered only while the owner dispatches messages.
DWORD WINAPI SendToOwner(void* parameter) {
  ::SendMessageW(static_cast<HWND>(parameter), WM_NULL, 0, 0);
  return 0;
}

DWORD WINAPI Nothing(void*) { return 0; }
DWORD WINAPI Pause(void*) {
  ::Sleep(200);
  return 0;
}

DWORD Elapsed(DWORD since) { return ::GetTickCount() - since; }

TEST(WorkerSetTest, WorkersWaitingOnTheStopEventEndAtOnceAndAreJoined) {
  base::WorkerSet workers;
  ASSERT_NE(workers.stop_event(), nullptr);
  StopWaiter job{workers.stop_event(), 30000};
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(workers.Start(WaitForStop, &job));
  EXPECT_EQ(workers.running(), 3u);
  EXPECT_FALSE(workers.stopping());
  const DWORD start = ::GetTickCount();
  EXPECT_EQ(workers.StopAndJoin(10000), 0u);
  EXPECT_LT(Elapsed(start), 5000u) << "the stop event, not the workers' own limit, ended them";
  EXPECT_EQ(job.ended, 3);
  EXPECT_TRUE(workers.stopping());
  EXPECT_EQ(workers.running(), 0u);
}

TEST(WorkerSetTest, AStoppingSetStartsNothingAndSaysWhy) {
  base::WorkerSet workers;
  workers.Stop();
  StopWaiter job{workers.stop_event(), 0};
  ::SetLastError(ERROR_SUCCESS);
  EXPECT_FALSE(workers.Start(WaitForStop, &job));
  EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_OPERATION_ABORTED));
  ::Sleep(50);
  EXPECT_EQ(job.ended, 0) << "the job was not run: the caller still owns it";
  EXPECT_EQ(workers.running(), 0u);
}

TEST(WorkerSetTest, AWorkerThatIgnoresTheStopIsCountedAtTheLimitAndKeptUntilItEnds) {
  base::WorkerSet workers;
  base::UniqueHandle release(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  StopWaiter quick{workers.stop_event(), 30000};
  ASSERT_TRUE(workers.Start(WaitForRelease, release.Get()));
  ASSERT_TRUE(workers.Start(WaitForStop, &quick));
  const DWORD start = ::GetTickCount();
  EXPECT_EQ(workers.StopAndJoin(300), 1u);
  const DWORD spent = Elapsed(start);
  EXPECT_GE(spent + 20, 300u) << "waited the whole limit (GetTickCount's granularity allowed)";
  EXPECT_LT(spent, 3000u) << "and not much longer";
  EXPECT_EQ(quick.ended, 1);
  EXPECT_EQ(workers.running(), 1u);
  ::SetEvent(release.Get());
  EXPECT_EQ(workers.StopAndJoin(10000), 0u) << "a later join still waits for it";
}

TEST(WorkerSetTest, TheJoinDispatchesWhatWorkersSendToTheOwnersThread) {
  HWND window = ::CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
  ASSERT_NE(window, nullptr);
  base::WorkerSet workers;
  for (int i = 0; i < 4; ++i) ASSERT_TRUE(workers.Start(SendToOwner, window));
  EXPECT_EQ(workers.StopAndJoin(10000), 0u) << "a join that only waited would never see them end";
  ::DestroyWindow(window);
}

TEST(WorkerSetTest, AQuitMessageMetWhileJoiningIsPostedAgain) {
  base::WorkerSet workers;
  // Still running when the join looks at the queue.
  ASSERT_TRUE(workers.Start(Pause, nullptr));
  ::PostQuitMessage(7);
  EXPECT_EQ(workers.StopAndJoin(10000), 0u);
  MSG message;
  ASSERT_TRUE(::PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) << "the message loop above still quits";
  EXPECT_EQ(message.wParam, 7u);
}

TEST(WorkerSetTest, EndedWorkersDoNotPileUp) {
  base::WorkerSet workers;
  for (int i = 0; i < 200; ++i) {
    ASSERT_TRUE(workers.Start(Nothing, nullptr)) << i;
    if (i % 50 == 49) ::Sleep(50);
  }
  ::Sleep(100);
  EXPECT_EQ(workers.running(), 0u);
  EXPECT_EQ(workers.StopAndJoin(0), 0u);
}

TEST(RunStateTest, TheClosingRunCancelsTheDownloadAndEndsTheSearch) {
  htmlui::RunState run;
  run.SetKeepSearching(true);
  EXPECT_FALSE(run.cancel());
  EXPECT_TRUE(run.keep_searching());
  StopWaiter job{run.stop_event(), 30000};
  ASSERT_TRUE(run.workers().Start(WaitForStop, &job));
  EXPECT_EQ(run.StopAndJoin(10000), 0u);
  EXPECT_TRUE(run.stopping());
  EXPECT_TRUE(run.cancel()) << "a download polls cancel(), so the stop reaches it";
  EXPECT_FALSE(run.keep_searching()) << "a search polls only its flag";
  run.SetCancel(false);
  EXPECT_TRUE(run.cancel()) << "a new download cannot clear a closing run's stop";
  EXPECT_FALSE(run.workers().Start(WaitForStop, &job));
}

TEST(RunStateTest, AWorkerWithoutARunToOwnItIsNotStarted) {
  std::atomic<int> ran{0};
  ::SetLastError(ERROR_SUCCESS);
  EXPECT_FALSE(htmlui::StartWorkerThread(nullptr, Nothing, &ran));
  EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  htmlui::RunState run;
  EXPECT_TRUE(htmlui::StartWorkerThread(&run, Nothing, &ran));
  EXPECT_EQ(run.StopAndJoin(10000), 0u);
}

// WaitForChild's three ways out, with events standing in for the program.
TEST(ChildWaitTest, EndsWithTheProgramOrTheStopAndTicksMeanwhile) {
  base::UniqueHandle program(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  base::UniqueHandle stop(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  int ticks = 0;
  // The program ends after three ticks.
  EXPECT_TRUE(WaitForChild(program.Get(), stop.Get(), 5, [&] {
    if (++ticks == 3) ::SetEvent(program.Get());
  }));
  EXPECT_EQ(ticks, 3);

  ::ResetEvent(program.Get());
  ticks = 0;
  EXPECT_FALSE(WaitForChild(program.Get(), stop.Get(), 5, [&] {
    if (++ticks == 2) ::SetEvent(stop.Get());
  })) << "the run closed while the program ran";
  EXPECT_EQ(ticks, 2);

  // Both set: the program's end wins (its result is there to report).
  ::SetEvent(program.Get());
  EXPECT_TRUE(WaitForChild(program.Get(), stop.Get(), 5, nullptr));

  // Without a run there is no stop to wait on.
  ::ResetEvent(program.Get());
  ticks = 0;
  EXPECT_TRUE(WaitForChild(program.Get(), nullptr, 5, [&] {
    if (++ticks == 2) ::SetEvent(program.Get());
  }));
  EXPECT_EQ(ticks, 2);
}

}  // namespace
}  // namespace stubframework::workflow
