// HttpToMemTask: sizing by the 200 response, the checks on every response,
// and the self-resume guarded by If-Range.
#include "downloader/http_to_mem_task.h"

#include <gtest/gtest.h>
#include <wininet.h>

#include "downloader/result_codes.h"
#include "engine_test_util.h"
#include "support/test_servers.h"

namespace downloader = stubframework::downloader;

namespace {

using testsupport::Make;
using testsupport::MemRecorder;
using testsupport::PatternBytes;
using testsupport::RecordingLogger;
using testsupport::Ref;
using testsupport::UniqueKey;

class HttpToMemTaskTest : public testsupport::ServerTest {
 protected:
  void Run(const std::wstring& url, const downloader::BodyHeadCheck& check = downloader::BodyHeadCheck(),
           const downloader::TransferTimeouts& timeouts = downloader::TransferTimeouts()) {
    downloader::ITask* task = downloader::CreateHttpToMemTask(url, recorder_.get(), logger_.get(), check, timeouts);
    ASSERT_NE(task, nullptr);
    task->Start();
    EXPECT_TRUE(recorder_->Wait()) << "no OnComplete";
    task->Release();
    ::Sleep(20);
    EXPECT_EQ(recorder_->completions(), 1);
  }

  Ref<testsupport::Object<RecordingLogger>> logger_ = Make<RecordingLogger>();
  Ref<testsupport::Object<MemRecorder>> recorder_ = Make<MemRecorder>();
};

TEST_F(HttpToMemTaskTest, WholeBodyArrivesInOneBuffer) {
  std::string key = UniqueKey();
  Run(servers().FaultUrl("/ok/" + key + "?size=30000"));
  EXPECT_EQ(recorder_->result(), 0);
  EXPECT_EQ(recorder_->bytes(), PatternBytes(30000));
  EXPECT_TRUE(logger_->Has(L"HttpToMemTask::OnComplete> Complete.")) << logger_->Dump();
}

TEST_F(HttpToMemTaskTest, EmptyBodyCompletesWithSizeZeroAndNoData) {
  Run(servers().FaultUrl("/ok/" + UniqueKey() + "?size=0"));
  EXPECT_EQ(recorder_->result(), 0);
  EXPECT_EQ(recorder_->size(), 0u);
  EXPECT_TRUE(recorder_->data_null());
}

TEST_F(HttpToMemTaskTest, OkWithoutLengthFailsWithBadFormat) {
  Run(servers().FaultUrl("/nolength/" + UniqueKey() + "?size=100"));
  EXPECT_EQ(recorder_->result(), downloader::kResultBadFormat);
  EXPECT_TRUE(logger_->Has(L"HttpToMemTask::OnHttpStatusOK> Unexpected content length -1.")) << logger_->Dump();
}

TEST_F(HttpToMemTaskTest, UnexpectedStatusFailsWithBadFormat) {
  Run(servers().FaultUrl("/status/" + UniqueKey() + "?code=404"));
  EXPECT_EQ(recorder_->result(), downloader::kResultBadFormat);
  EXPECT_TRUE(logger_->Has(L"HttpToMemTask::OnHttpHeader> Unexpected HTTP status code 404.")) << logger_->Dump();
}

// A body that goes idle short of its length: resumed for the rest while the
// silences stay under the stall limit (each lasts one receive timeout, 1 s);
// a response silent from its first byte ends the task with the timeout.
TEST_F(HttpToMemTaskTest, AnIdleBodyIsResumedWhileTheStallLimitLasts) {
  struct Case {
    const char* query;
    DWORD stall_limit_ms;
    bool whole;
    size_t requests;
    const char* second_range;
  };
  const Case kCases[] = {
      {"after=600&times=1", 10000, true, 2, "bytes=600-999"},
      {"after=300&times=0", 1500, false, 2, "bytes=300-999"},
      {"after=0&times=0", 10000, false, 1, ""},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.query);
    recorder_ = Make<MemRecorder>();
    logger_ = Make<RecordingLogger>();
    std::string key = UniqueKey();
    downloader::TransferTimeouts timeouts;
    timeouts.receive_ms = 1000;
    timeouts.stall_limit_ms = c.stall_limit_ms;
    Run(servers().FaultUrl("/idle/" + key + "?size=1000&ms=20000&" + c.query), downloader::BodyHeadCheck(),
        timeouts);
    auto asked = servers().FaultRequests(key);
    ASSERT_EQ(asked.size(), c.requests);
    if (c.requests > 1) EXPECT_EQ(asked[1].range, c.second_range);
    if (c.whole) {
      EXPECT_EQ(recorder_->result(), 0) << std::hex << recorder_->result() << logger_->Dump();
      EXPECT_EQ(recorder_->bytes(), PatternBytes(1000));
    } else {
      EXPECT_TRUE(recorder_->result() == downloader::ResultFromWin32(ERROR_INTERNET_TIMEOUT) ||
                  recorder_->result() == downloader::ResultFromWin32(WSAETIMEDOUT))
          << std::hex << recorder_->result() << logger_->Dump();
    }
  }
}

TEST_F(HttpToMemTaskTest, DroppedConnectionResumesWithRangeAndSavedEtag) {
  std::string key = UniqueKey();
  Run(servers().FaultUrl("/drop/" + key + "?size=1000&after=600"));

  EXPECT_EQ(recorder_->result(), 0);
  EXPECT_EQ(recorder_->bytes(), PatternBytes(1000));
  auto asked = servers().FaultRequests(key);
  ASSERT_EQ(asked.size(), 2u);
  EXPECT_EQ(asked[0].range, "");
  EXPECT_EQ(asked[0].if_range, "");
  EXPECT_EQ(asked[1].range, "bytes=600-999");
  EXPECT_EQ(asked[1].if_range, "\"fixed-1000\"");
  EXPECT_EQ(asked[1].note, "206");
  EXPECT_TRUE(logger_->Has(L"HttpToMemTask::OnComplete> Data not complete 600/1000.")) << logger_->Dump();
}

TEST_F(HttpToMemTaskTest, ChangedEntityRestartsTheBodyFromItsFirstByte) {
  std::string key = UniqueKey();
  Run(servers().FaultUrl("/drop/" + key + "?size=1000&after=600&etagchange=1"));

  EXPECT_EQ(recorder_->result(), 0);
  EXPECT_EQ(recorder_->bytes(), PatternBytes(1000));
  auto asked = servers().FaultRequests(key);
  ASSERT_EQ(asked.size(), 2u);
  EXPECT_EQ(asked[1].range, "bytes=600-999");
  EXPECT_EQ(asked[1].if_range, "\"v0\"");
  EXPECT_EQ(asked[1].note, "200");  // the tag no longer matches: the whole body again
}

TEST_F(HttpToMemTaskTest, MoreDataThanExpectedOnResumeFails) {
  std::string key = UniqueKey();
  Run(servers().FaultUrl("/drop/" + key + "?size=1000&after=600&extra=100"));
  EXPECT_EQ(recorder_->result(), downloader::kResultBadFormat);
  EXPECT_TRUE(logger_->Has(L"HttpToMemTask::OnData> Data large than expected 1100/1000.")) << logger_->Dump();
}

TEST_F(HttpToMemTaskTest, WrongRangeOnResumeFails) {
  std::string key = UniqueKey();
  // After the drop the server answers the range with a 206 for other bytes.
  Run(servers().FaultUrl("/drop/" + key + "?size=1000&after=600&etag=%22e%22"));
  ASSERT_EQ(recorder_->result(), 0);  // a control: the same drop resumes fine

  recorder_ = Make<MemRecorder>();
  std::string bad = UniqueKey();
  Run(servers().FaultUrl("/badrange/" + bad + "?size=1000&cr=bytes%200-99/1000"));
  // No 200 came first, so no size is known and any 206 is refused.
  EXPECT_EQ(recorder_->result(), downloader::kResultBadFormat);
  EXPECT_TRUE(logger_->Has(
      L"HttpToMemTask::OnHttpStatusPartialContent> Unexpected content range (OFFSET:0 SIZE:100 TOTAL:1000)/(POS:0 SIZE:0)."))
      << logger_->Dump();
}

// Restarting is for a response that brought bytes: one that ends at its
// headers every time would otherwise be asked again without end.
TEST_F(HttpToMemTaskTest, AResponseThatEndsAtItsHeadersIsNotAskedAgain) {
  for (const char* after : {"0", "600,0"}) {
    SCOPED_TRACE(after);
    recorder_ = Make<MemRecorder>();
    std::string key = UniqueKey();
    Run(servers().FaultUrl("/drop/" + key + "?size=1000&times=0&after=" + after));
    EXPECT_EQ(recorder_->result(), downloader::kResultShortRead) << std::hex << recorder_->result();
    EXPECT_EQ(servers().FaultRequests(key).size(), after[0] == '0' ? 1u : 2u);
    EXPECT_TRUE(logger_->Has(L"HttpToMemTask::OnComplete> No data in the response.")) << logger_->Dump();
  }
}

// A body whose head says how long it may be is allocated only after its head
// accepted the length the server announced.
TEST_F(HttpToMemTaskTest, TheHeadDecidesWhetherTheAnnouncedLengthIsAllocated) {
  struct Case {
    const char* what;
    std::string fault;
    bool accept;
    long expected;
    size_t requests;
  };
  const Case cases[] = {
      {"accepted", "ok|?size=30000", true, 0, 1},
      {"accepted across a resume inside the head", "drop|?size=30000&after=5", true, 0, 2},
      {"accepted across a resume after the head", "drop|?size=30000&after=9000", true, 0, 2},
      {"refused", "ok|?size=30000", false, downloader::kResultBadFormat, 1},
      {"refused after a resume inside the head", "drop|?size=30000&after=5", false, downloader::kResultBadFormat, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    recorder_ = Make<MemRecorder>();
    logger_ = Make<RecordingLogger>();
    std::string fault = c.fault;
    std::string key = UniqueKey();
    std::string url = "/" + fault.replace(fault.find('|'), 1, "/" + key);
    std::string head;
    downloader::int64 length = -1;
    downloader::BodyHeadCheck check;
    check.size = 8;
    check.accept = [&](const downloader::uint8* bytes, downloader::int64 announced) {
      head.assign(reinterpret_cast<const char*>(bytes), 8);
      length = announced;
      return c.accept;
    };
    Run(servers().FaultUrl(url), check);
    EXPECT_EQ(recorder_->result(), c.expected) << logger_->Dump();
    EXPECT_EQ(head, PatternBytes(8));
    EXPECT_EQ(length, 30000);
    EXPECT_EQ(servers().FaultRequests(key).size(), c.requests);
    if (c.accept) {
      EXPECT_EQ(recorder_->bytes(), PatternBytes(30000));
    } else {
      EXPECT_TRUE(recorder_->data_null()) << "nothing was allocated for the refused body";
      EXPECT_EQ(recorder_->size(), 0u);
      EXPECT_TRUE(logger_->Has(L"HttpToMemTask::OnData> Unexpected content length 30000.")) << logger_->Dump();
    }
  }
}

TEST_F(HttpToMemTaskTest, ABodyNoLongerThanItsHeadIsNotChecked) {
  bool asked = false;
  downloader::BodyHeadCheck check;
  check.size = 8;
  check.accept = [&asked](const downloader::uint8*, downloader::int64) {
    asked = true;
    return false;
  };
  Run(servers().FaultUrl("/ok/" + UniqueKey() + "?size=8"), check);
  EXPECT_EQ(recorder_->result(), 0);
  EXPECT_EQ(recorder_->bytes(), PatternBytes(8));
  EXPECT_FALSE(asked);
}

}  // namespace
