// A worker in the multithreaded apartment calls a page function that lives on
// the main thread's single-threaded apartment, which pumps messages meanwhile.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "htmlui/bridge_test_support.h"
#include "htmlui/page_callback.h"

namespace stubframework::htmlui {
namespace {

using testsupport::AppFixture;
using testsupport::RecordingFunction;

struct Job {
  base::Log* log;
  IStream* stream;
  DWORD thread_id = 0;
  HANDLE done;
  bool connected = false;
  std::vector<HRESULT> results;
};

// Like a download worker: progress calls, then the final one.
DWORD WINAPI ProgressWorker(void* param) {
  auto* job = static_cast<Job*>(param);
  job->thread_id = GetCurrentThreadId();
  {
    PageCallback callback(job->log, L"TestThreadFunc", job->stream);
    job->connected = callback.connected();
    if (callback.connected()) {
      job->results.push_back(callback.Call(10, 3000, 1000));
      job->results.push_back(callback.Call(10, 3000, 2000));
      job->results.push_back(callback.Call(10, 0x100000BB8ull, 0x200000BB8ull));
      job->results.push_back(callback.Call(0, 3000, 3000));
    }
  }
  SetEvent(job->done);
  return 0;
}

// Like the uninstall worker: one final result only.
DWORD WINAPI ResultOnlyWorker(void* param) {
  auto* job = static_cast<Job*>(param);
  {
    PageCallback callback(job->log, L"UninstallThreadFunc", job->stream);
    job->connected = callback.connected();
    if (callback.connected()) job->results.push_back(callback.Call(7));
  }
  SetEvent(job->done);
  return 0;
}

class PageCallbackTest : public AppFixture {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    AppFixture::SetUp();
  }
  void TearDown() override {
    AppFixture::TearDown();
    CoUninitialize();
  }

  // Runs `worker` on its own thread while this (STA) thread pumps messages.
  void RunAndPump(LPTHREAD_START_ROUTINE worker, Job& job) {
    job.done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_TRUE(StartWorkerThread(&app_->run_state(), worker, &job));
    for (;;) {
      DWORD wait = MsgWaitForMultipleObjects(1, &job.done, FALSE, 20000, QS_ALLINPUT);
      if (wait == WAIT_OBJECT_0) break;
      ASSERT_EQ(wait, WAIT_OBJECT_0 + 1) << "the worker did not finish";
      MSG msg;
      while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    }
    CloseHandle(job.done);
  }
};

TEST_F(PageCallbackTest, WorkerCallsArriveOnTheMainThreadInOrderWithResultTotalCurrent) {
  RecordingFunction function;
  CallbackStream stream;
  ASSERT_EQ(stream.Marshal(app_->log(), L"EMDownload", &function), S_OK);
  Job job{app_->log(), stream.Detach()};
  RunAndPump(ProgressWorker, job);

  ASSERT_TRUE(job.connected);
  EXPECT_NE(job.thread_id, GetCurrentThreadId());
  ASSERT_EQ(function.calls.size(), 4u);
  const std::vector<std::vector<LONG>> expected = {{10, 3000, 1000}, {10, 3000, 2000}, {10, 3000, 3000},
                                                   {0, 3000, 3000}};
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(function.calls[i].thread_id, GetCurrentThreadId()) << "call " << i << " ran on the page's thread";
    EXPECT_EQ(function.calls[i].args, expected[i]) << "call " << i;
    EXPECT_EQ(function.calls[i].flags, DISPATCH_METHOD);
    EXPECT_EQ(job.results[i], S_OK);
  }
  EXPECT_EQ(function.via_invoke_, 4);
  EXPECT_EQ(function.refs(), 1) << "the worker released its proxy";
}

TEST_F(PageCallbackTest, AOneArgumentWorkerPassesOnlyTheResult) {
  RecordingFunction function;
  CallbackStream stream;
  ASSERT_EQ(stream.Marshal(app_->log(), L"EMRemoveProgram", &function), S_OK);
  Job job{app_->log(), stream.Detach()};
  RunAndPump(ResultOnlyWorker, job);
  ASSERT_EQ(function.calls.size(), 1u);
  EXPECT_EQ(function.calls[0].args, std::vector<LONG>{7});
}

TEST_F(PageCallbackTest, AFailedUnmarshalLogsTheWorkersLineAndMakesNoCall) {
  // A stream that holds no marshalled interface.
  IStream* garbage = nullptr;
  ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, &garbage), S_OK);
  const char junk[64] = "not a marshalled interface";
  garbage->Write(junk, sizeof(junk), nullptr);
  LARGE_INTEGER zero = {};
  garbage->Seek(zero, STREAM_SEEK_SET, nullptr);

  Job job{app_->log(), garbage};
  RunAndPump(ProgressWorker, job);
  EXPECT_FALSE(job.connected);
  EXPECT_TRUE(job.results.empty());
  std::string log = LogText();
  EXPECT_NE(log.find("ERROR] TestThreadFunc CoGetInterfaceAndReleaseStream  failed with: 8"), std::string::npos)
      << log;
}

TEST_F(PageCallbackTest, AFailedMarshalLogsTheMethodsLineAndReturnsTheFailure) {
  CallbackStream stream;
  HRESULT hr = stream.Marshal(app_->log(), L"ZSUpdateSelf", nullptr);
  ASSERT_TRUE(FAILED(hr));
  EXPECT_EQ(stream.Detach(), nullptr);
  char expected[128];
  snprintf(expected, sizeof(expected), "ZSUpdateSelf: CoMarshalInterThreadInterfaceInStream failed with %lx",
           static_cast<unsigned long>(hr));
  EXPECT_TRUE(LogHasLine(expected)) << LogText();
}

TEST_F(PageCallbackTest, AStreamNoWorkerTookReleasesTheFunction) {
  RecordingFunction function;
  {
    CallbackStream stream;
    ASSERT_EQ(stream.Marshal(app_->log(), L"EMInstall", &function), S_OK);
    EXPECT_GT(function.refs(), 1) << "the marshalled data holds the function";
  }
  EXPECT_EQ(function.refs(), 1);
}

}  // namespace
}  // namespace stubframework::htmlui
