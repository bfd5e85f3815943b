// HttpToMemTask: sizing by the 200 response, the checks on every response,
// and the self-resume guarded by If-Range.
#include "downloader/http_to_mem_task.h"

#include <gtest/gtest.h>

#include "downloader/result_codes.h"
#include "engine_test_util.h"
#include "support/test_servers.h"

namespace downloader = stubframework::downloader;

namespace {

using enginetest::Make;
using enginetest::MemRecorder;
using enginetest::RecordingLogger;
using enginetest::Ref;
using testsupport::PatternBytes;
using testsupport::UniqueKey;

class HttpToMemTaskTest : public testsupport::ServerTest {
 protected:
  void Run(const std::wstring& url) {
    downloader::ITask* task = downloader::CreateHttpToMemTask(url, recorder_.get(), logger_.get());
    ASSERT_NE(task, nullptr);
    task->Start();
    EXPECT_TRUE(recorder_->Wait()) << "no OnComplete";
    task->Release();
    ::Sleep(20);
    EXPECT_EQ(recorder_->completions(), 1);
  }

  Ref<enginetest::Object<RecordingLogger>> logger_ = Make<RecordingLogger>();
  Ref<enginetest::Object<MemRecorder>> recorder_ = Make<MemRecorder>();
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

}  // namespace
