// HttpToFileTask: the response checks, writing at the file's position, the
// self-resume for exactly the missing bytes, and a full disk.
#include "downloader/http_to_file_task.h"

#include <gtest/gtest.h>

#include <wininet.h>

#include <chrono>

#include "base/unique_handle.h"
#include "downloader/result_codes.h"
#include "engine_test_util.h"
#include "support/test_servers.h"

namespace downloader = stubframework::downloader;

namespace {

using downloader::int64;
using stubframework::base::UniqueHandle;
using testsupport::FileRecorder;
using testsupport::Make;
using testsupport::PatternBytes;
using testsupport::RecordingLogger;
using testsupport::Ref;
using testsupport::UniqueKey;

constexpr int64 kMiB = 1048576;

// WinINet's timeout on Windows; Wine passes the socket's on.
bool IsReceiveTimeout(long result) {
  return result == downloader::ResultFromWin32(ERROR_INTERNET_TIMEOUT) ||
         result == downloader::ResultFromWin32(WSAETIMEDOUT);
}

class HttpToFileTaskTest : public testsupport::ServerTest {
 protected:
  void SetUp() override {
    ServerTest::SetUp();
    if (HasFatalFailure()) return;
    path_ = testsupport::TempFilePath(L"httpfile");
  }
  void TearDown() override {
    file_.Reset();
    ::DeleteFileW(path_.c_str());
  }

  bool OpenFile(const std::wstring& path) {
    file_.Reset(::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
    return file_.IsValid();
  }

  void Run(const std::wstring& url, int64 offset, int64 size,
           const downloader::TransferTimeouts& timeouts = downloader::TransferTimeouts()) {
    if (!file_ && !OpenFile(path_)) FAIL() << "cannot create " << path_.size();
    downloader::ITask* task = downloader::CreateHttpToFileTask(url, file_.Get(), offset, size, recorder_.get(),
                                                               logger_.get(), std::string(), timeouts);
    ASSERT_NE(task, nullptr);
    task->Start();
    EXPECT_TRUE(recorder_->Wait()) << "no OnComplete";
    task->Release();
    ::Sleep(20);
    EXPECT_EQ(recorder_->completions(), 1);
  }

  std::string Written() {
    file_.Reset();
    return testsupport::ReadWholeFile(path_);
  }

  std::wstring path_;
  UniqueHandle file_;
  Ref<testsupport::Object<RecordingLogger>> logger_ = Make<RecordingLogger>();
  Ref<testsupport::Object<FileRecorder>> recorder_ = Make<FileRecorder>();
};

TEST_F(HttpToFileTaskTest, RangeAtThreeMiBAcceptsTheMatchingPartialContent) {
  std::string name = UniqueKey() + ".bin";
  ASSERT_TRUE(servers().PutPatternFile(name, 8 * kMiB));
  Run(servers().NginxUrl("/" + name), 3 * kMiB, 5 * kMiB);

  EXPECT_EQ(recorder_->result(), 0);
  EXPECT_EQ(recorder_->reported_bytes(), 5 * kMiB);
  auto reports = recorder_->reports();
  ASSERT_FALSE(reports.empty());
  EXPECT_EQ(reports.front().first, 3 * kMiB);
  for (size_t i = 1; i < reports.size(); ++i) {
    EXPECT_EQ(reports[i].first, reports[i - 1].first + reports[i - 1].second);
  }
  // The task appends at the file's position, which the caller left at 0 here.
  EXPECT_EQ(Written(), PatternBytes(5 * kMiB, 3 * kMiB));
  auto asked = servers().NginxRequests(name, 1);
  ASSERT_EQ(asked.size(), 1u);
  EXPECT_EQ(asked[0].range, "bytes=3145728-8388607");
  EXPECT_EQ(asked[0].if_range, "");
}

// A server that ignores ranges: the whole file, taken from byte 0 on that
// same answer (one request, one body), reported from offset 0.
TEST_F(HttpToFileTaskTest, WholeResponseToARangeRestartsTheFileAtByteZero) {
  std::string key = UniqueKey();
  Run(servers().FaultUrl("/full/" + key + "?size=" + std::to_string(8 * kMiB)), 3 * kMiB, 5 * kMiB);
  EXPECT_EQ(recorder_->result(), downloader::kResultOk);
  EXPECT_TRUE(logger_->Has(
      L"HttpToFileTask::OnHttpStatusOK> The server ignored the range from 3145728: the whole file again from byte 0."))
      << logger_->Dump();
  auto reports = recorder_->reports();
  ASSERT_FALSE(reports.empty());
  EXPECT_EQ(reports.front().first, 0);
  EXPECT_EQ(reports.back().first + reports.back().second, 8 * kMiB);
  EXPECT_TRUE(Written() == PatternBytes(8 * kMiB));
  EXPECT_EQ(servers().FaultRequests(key).size(), 1u);
}

// A whole answer that does not end where the range does is not the file.
TEST_F(HttpToFileTaskTest, WholeResponseOfAnotherLengthToARangeIsRefused) {
  std::string key = UniqueKey();
  Run(servers().FaultUrl("/full/" + key + "?size=" + std::to_string(8 * kMiB + 1)), 3 * kMiB, 5 * kMiB);
  EXPECT_EQ(recorder_->result(), downloader::kResultBadFormat);
  EXPECT_TRUE(
      logger_->Has(L"HttpToFileTask::OnHttpStatusOK> Unexpected content length 8388609/(OFFSET:3145728 SIZE:5242880)."))
      << logger_->Dump();
  EXPECT_TRUE(recorder_->reports().empty());
  EXPECT_EQ(Written().size(), 0u);
}

TEST_F(HttpToFileTaskTest, PartialContentForOtherBytesIsRefused) {
  std::string key = UniqueKey();
  Run(servers().FaultUrl("/badrange/" + key + "?size=1000&cr=bytes%200-99/1000"), 100, 100);
  EXPECT_EQ(recorder_->result(), downloader::kResultBadFormat);
  EXPECT_TRUE(logger_->Has(L"HttpToFileTask::OnHttpStatusPartialContent> Unexpected content range "
                           L"(OFFSET:0 SIZE:100 TOTAL:1000)/(OFFSET:100 SIZE:100)."))
      << logger_->Dump();
  EXPECT_EQ(Written().size(), 0u);
}

TEST_F(HttpToFileTaskTest, LongerBodyFailsBeforeAnythingIsWritten) {
  std::string key = UniqueKey();
  Run(servers().FaultUrl("/more/" + key + "?size=1000&extra=50"), 0, 100);
  EXPECT_EQ(recorder_->result(), downloader::kResultBadFormat);
  EXPECT_TRUE(logger_->Has(L"HttpToFileTask::OnData> Data large than expected 50")) << logger_->Dump();
  EXPECT_TRUE(recorder_->reports().empty());
  EXPECT_EQ(Written().size(), 0u);
}

TEST_F(HttpToFileTaskTest, DroppedTransferResumesWithExactlyTheMissingBytes) {
  std::string key = UniqueKey();
  Run(servers().FaultUrl("/drop/" + key + "?size=1000&after=600"), 0, 1000);
  EXPECT_EQ(recorder_->result(), 0);
  EXPECT_EQ(Written(), PatternBytes(1000));
  auto asked = servers().FaultRequests(key);
  ASSERT_EQ(asked.size(), 2u);
  EXPECT_EQ(asked[0].range, "bytes=0-999");
  EXPECT_EQ(asked[1].range, "bytes=600-999");
  // The rest is asked under the tag of the first answer (a 206): a file
  // changed in between comes whole instead of joined to the old bytes.
  EXPECT_EQ(asked[1].if_range, "\"fixed-1000\"");
  EXPECT_TRUE(logger_->Has(L"HttpToFileTask::OnComplete> Data not complete 400 needed.")) << logger_->Dump();
}

// Restarting is for a response that brought bytes: one that ends at its
// headers every time would otherwise be asked again without end.
TEST_F(HttpToFileTaskTest, AResponseThatEndsAtItsHeadersIsNotAskedAgain) {
  std::string key = UniqueKey();
  Run(servers().FaultUrl("/drop/" + key + "?size=1000&after=0&times=0"), 0, 1000);
  EXPECT_EQ(recorder_->result(), downloader::kResultShortRead) << std::hex << recorder_->result();
  EXPECT_EQ(servers().FaultRequests(key).size(), 1u);
  EXPECT_TRUE(logger_->Has(L"HttpToFileTask::OnComplete> No data in the response.")) << logger_->Dump();
  EXPECT_EQ(Written().size(), 0u);
}

// A resume that brought bytes may be followed by one that brings none: the
// chain then ends there.
TEST_F(HttpToFileTaskTest, AResumeThatBringsNothingEndsTheChain) {
  std::string key = UniqueKey();
  // The first response breaks off after 600 bytes, the resume at its headers.
  Run(servers().FaultUrl("/drop/" + key + "?size=1000&after=600,0&times=0"), 0, 1000);
  EXPECT_EQ(recorder_->result(), downloader::kResultShortRead) << std::hex << recorder_->result();
  auto asked = servers().FaultRequests(key);
  ASSERT_EQ(asked.size(), 2u);
  EXPECT_EQ(asked[1].range, "bytes=600-999");
  EXPECT_EQ(Written(), PatternBytes(600));
}

// A server that answered the range with the whole file and broke off would
// send the whole file again for the rest: one whole body per task, and the
// caller proves and resumes what came.
TEST_F(HttpToFileTaskTest, AWholeResponseThatBreaksOffIsNotAskedAgainInTheTask) {
  std::string key = UniqueKey();
  Run(servers().FaultUrl("/drop/" + key + "?size=1000&after=600&norange=1"), 0, 1000);
  EXPECT_EQ(recorder_->result(), downloader::kResultShortRead);
  auto asked = servers().FaultRequests(key);
  ASSERT_EQ(asked.size(), 1u);
  EXPECT_EQ(asked[0].range, "bytes=0-999");
  EXPECT_TRUE(logger_->Has(L"HttpToFileTask::OnComplete> A whole body broke off; not asked again in this task."))
      << logger_->Dump();
  EXPECT_EQ(Written(), PatternBytes(600));
}

// A body that stops short of its length on a connection left open: the
// receive timeout ends the response, and the rest is asked for by range. The
// server stays silent far longer than the timeout, so only the timeout can
// have ended the wait.
TEST_F(HttpToFileTaskTest, AResponseThatGoesIdleShortOfItsLengthIsResumedForTheRest) {
  std::string key = UniqueKey();
  downloader::TransferTimeouts timeouts;
  timeouts.receive_ms = 1500;
  timeouts.stall_limit_ms = 10000;
  auto started = std::chrono::steady_clock::now();
  Run(servers().FaultUrl("/idle/" + key + "?size=100000&after=40000&ms=20000"), 0, 100000, timeouts);
  auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started);
  EXPECT_EQ(recorder_->result(), downloader::kResultOk) << std::hex << recorder_->result() << logger_->Dump();
  EXPECT_TRUE(Written() == PatternBytes(100000));
  auto asked = servers().FaultRequests(key);
  ASSERT_EQ(asked.size(), 2u);
  EXPECT_EQ(asked[0].range, "bytes=0-99999");
  EXPECT_EQ(asked[1].range, "bytes=40000-99999");
  EXPECT_EQ(asked[1].if_range, "\"fixed-100000\"");
  EXPECT_EQ(logger_->CountContaining(L"HttpToFileTask::OnComplete> The connection went idle"), 1u) << logger_->Dump();
  EXPECT_EQ(logger_->CountContaining(L") after 40000 bytes; asking for the rest."), 1u) << logger_->Dump();
  EXPECT_LT(took.count(), 10000) << "the idle connection was waited out until the server closed it";
}

// How idle responses end a transfer: the silences of the responses that
// brought bytes add up until they reach the stall limit; a response silent
// from its first byte ends it at once (asking again could only repeat that).
TEST_F(HttpToFileTaskTest, IdleResponsesEndTheTransferWhenTheirSilenceReachesTheLimit) {
  struct Case {
    const char* after;       // body bytes each response brings before going idle
    DWORD stall_limit_ms;
    size_t requests;         // how many the transfer makes before it ends
    int64 written;
  };
  // Each silence lasts one receive timeout (1000 ms): two fit under 2500 ms,
  // the third reaches it.
  const Case kCases[] = {
      {"1000", 2500, 3, 3000},
      {"1000", 1500, 2, 2000},
      {"0", 60000, 1, 0},
      {"700,0", 60000, 2, 700},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(std::string("after=") + c.after + " limit=" + std::to_string(c.stall_limit_ms));
    std::string key = UniqueKey();
    recorder_ = Make<FileRecorder>();
    file_.Reset();
    downloader::TransferTimeouts timeouts;
    timeouts.receive_ms = 1000;
    timeouts.stall_limit_ms = c.stall_limit_ms;
    Run(servers().FaultUrl("/idle/" + key + "?size=100000&times=0&ms=20000&after=" + c.after), 0, 100000,
        timeouts);
    EXPECT_TRUE(IsReceiveTimeout(recorder_->result())) << std::hex << recorder_->result() << logger_->Dump();
    EXPECT_EQ(servers().FaultRequests(key).size(), c.requests);
    EXPECT_EQ(recorder_->reported_bytes(), c.written);
    EXPECT_TRUE(Written() == PatternBytes(c.written));
  }
}

TEST_F(HttpToFileTaskTest, FullDiskEndsWithDiskFullAfterReportingWrittenBytes) {
  std::wstring path = servers().SmallDiskPath(UniqueKey() + ".bin");
  if (path.empty()) GTEST_SKIP() << "the fixture could not mount its 1 MiB file system (no privilege)";
  ASSERT_TRUE(OpenFile(path));
  std::string name = UniqueKey() + ".src";
  ASSERT_TRUE(servers().PutPatternFile(name, 3 * kMiB));
  Run(servers().NginxUrl("/" + name), 0, 3 * kMiB);

  EXPECT_EQ(recorder_->result(), downloader::kResultDiskFull) << std::hex << recorder_->result();
  EXPECT_TRUE(logger_->Has(L"HttpToFileTask::OnData> WriteFile failed 112.")) << logger_->Dump();
  int64 reported = recorder_->reported_bytes();
  EXPECT_GT(reported, 0);
  EXPECT_LT(reported, 3 * kMiB);
  file_.Reset();
  std::string written = testsupport::ReadWholeFile(path);
  EXPECT_EQ(static_cast<int64>(written.size()), reported);
  EXPECT_EQ(written, PatternBytes(written.size()));
  ::DeleteFileW(path.c_str());
}

}  // namespace
