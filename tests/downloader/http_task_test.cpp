// HttpTask against the fault server and nginx: what it asks for, and how it
// reads the response header and body.
#include "downloader/http_task.h"
#include "downloader/redirects.h"

#include <gtest/gtest.h>

#include "downloader/result_codes.h"
#include "engine_test_util.h"
#include "support/test_servers.h"

namespace downloader = stubframework::downloader;

namespace {

using downloader::HttpHeader;
using downloader::HttpRange;
using testsupport::HttpRecorder;
using testsupport::Make;
using testsupport::PatternBytes;
using testsupport::RecordingLogger;
using testsupport::Ref;
using testsupport::UniqueKey;

class HttpTaskTest : public testsupport::ServerTest {
 protected:
  // Runs one task to its end; returns its recorder.
  Ref<testsupport::Object<HttpRecorder>>& Run(const std::wstring& url, const HttpRange& range = HttpRange()) {
    downloader::ITask* task = downloader::CreateHttpTask(url, range, recorder_.get(), logger_.get());
    EXPECT_NE(task, nullptr);
    if (task != nullptr) {
      task->Start();
      EXPECT_TRUE(recorder_->Wait()) << "no OnComplete";
      task->Release();
    }
    return recorder_;
  }

  Ref<testsupport::Object<RecordingLogger>> logger_ = Make<RecordingLogger>();
  Ref<testsupport::Object<HttpRecorder>> recorder_ = Make<HttpRecorder>();
};

TEST(HttpTaskHelpers, ContentRangeParsesThreeNumbersAndNothingElse) {
  struct Case {
    const char* text;
    bool parses;
    downloader::int64 offset, length, total;
  };
  const Case cases[] = {
      {"bytes 100-199/1000", true, 100, 100, 1000},
      {"bytes 0-0/1", true, 0, 1, 1},
      {"bytes  5-5/6", true, 5, 1, 6},
      {"bytes 0-9223372036854775806/9223372036854775807", true, 0, 9223372036854775807LL, 9223372036854775807LL},
      {"bytes 100-199/*", false},
      {"bytes */1000", false},
      {"", false},
      {"bytes 1-2/3x", false},
      {"bytes 1-2/3 ", false},
      {"bytes -1-5/10", false},
      {"bytes 7-3/10", false},
      {"bytes 0-9223372036854775808/9223372036854775809", false},
      {"bits 1-2/3", false},
      {"bytes 1-2", false},
  };
  for (const Case& c : cases) {
    downloader::int64 offset = -5, length = -5, total = -5;
    EXPECT_EQ(downloader::details::ParseContentRange(c.text, &offset, &length, &total), c.parses) << c.text;
    if (!c.parses) continue;
    EXPECT_EQ(offset, c.offset) << c.text;
    EXPECT_EQ(length, c.length) << c.text;
    EXPECT_EQ(total, c.total) << c.text;
  }
}

TEST(HttpTaskHelpers, ContentLengthIsDigitsOnly) {
  struct Case {
    const char* text;
    downloader::int64 value;
  };
  const Case cases[] = {
      {"1048576", 1048576},    {"0", 0},     {" 42 ", 42}, {"", -1},
      {"-1", -1},              {"+5", -1},   {"12a", -1},  {"9223372036854775807", 9223372036854775807LL},
      {"9223372036854775808", -1},
  };
  for (const Case& c : cases) EXPECT_EQ(downloader::details::ParseContentLength(c.text), c.value) << c.text;
}

// Found by fuzzing: the fields of a range that cannot be overflowed the length.
TEST(HttpTaskHelpers, ContentRangeRefusesWhatNoRangeCanBe) {
  const char* refused[] = {
      "bytes 0-9223372036854775807/9223372036854775807",                   // length beyond 63 bits
      "bytes -9223372036854775808-9223372036854775807/9223372036854775807",  // a sign
      "bytes 0-18446744073709551615/18446744073709551616",                 // beyond 63 bits
      "bytes 200-100/1000",                                                 // first after last
      "bytes 0-1000/1000",                                                  // last at the total
      "bytes +1-2/3", "bytes1-2/3", "bytes 1 -2/3", "bytes 1-2/3 ", "bytes 1-2/3x", "bytes 1-2/",
      "bytes 1-2", "bytes=1-2/3", "bytes 0x1-2/3"};
  for (const char* text : refused) {
    downloader::int64 offset = -5, length = -5, total = -5;
    EXPECT_FALSE(downloader::details::ParseContentRange(text, &offset, &length, &total)) << text;
  }
  struct Accepted {
    const char* text;
    downloader::int64 offset, length, total;
  } accepted[] = {
      {"bytes 0-0/1", 0, 1, 1},
      {"bytes 9223372036854775806-9223372036854775806/9223372036854775807", 9223372036854775806LL, 1,
       9223372036854775807LL},
      {"bytes 0-9223372036854775806/9223372036854775807", 0, 9223372036854775807LL, 9223372036854775807LL},
  };
  for (const Accepted& c : accepted) {
    downloader::int64 offset = -5, length = -5, total = -5;
    ASSERT_TRUE(downloader::details::ParseContentRange(c.text, &offset, &length, &total)) << c.text;
    EXPECT_EQ(offset, c.offset) << c.text;
    EXPECT_EQ(length, c.length) << c.text;
    EXPECT_EQ(total, c.total) << c.text;
  }
}

TEST(HttpTaskHelpers, RangeHeaderNamesFirstAndLastByte) {
  EXPECT_EQ(downloader::details::RangeHeader(600, 400), "Range: bytes=600-999");
  EXPECT_EQ(downloader::details::RangeHeader(3145728, 7340032), "Range: bytes=3145728-10485759");
  EXPECT_EQ(downloader::details::RangeHeader(0, 1), "Range: bytes=0-0");
  EXPECT_EQ(downloader::details::RangeHeader(4294967296LL, 4294967296LL), "Range: bytes=4294967296-8589934591");
}

TEST_F(HttpTaskTest, PartialContentRangeGivesOffsetLengthAndTotal) {
  std::string key = UniqueKey();
  HttpRange range;
  range.offset = 100;
  range.size = 100;
  Run(servers().FaultUrl("/ok/" + key + "?size=1000"), range);

  EXPECT_EQ(recorder_->result(), 0);
  EXPECT_EQ(recorder_->completions(), 1);
  auto headers = recorder_->headers();
  ASSERT_EQ(headers.size(), 1u);
  EXPECT_EQ(headers[0].statusCode, 206);
  EXPECT_EQ(headers[0].offset, 100);
  EXPECT_EQ(headers[0].length, 100);
  EXPECT_EQ(headers[0].total, 1000);
  EXPECT_EQ(headers[0].etag, "\"fixed-1000\"");
  EXPECT_EQ(recorder_->body(), PatternBytes(100, 100));

  auto asked = servers().FaultRequests(key);
  ASSERT_EQ(asked.size(), 1u);
  EXPECT_EQ(asked[0].method, "GET");
  EXPECT_EQ(asked[0].range, "bytes=100-199");
  EXPECT_EQ(asked[0].if_range, "");
  EXPECT_TRUE(logger_->Has(L"HttpTask::SetRange> Range: bytes=100-199")) << logger_->Dump();
}

TEST_F(HttpTaskTest, UnparsableContentRangeIsLoggedAndContentLengthFillsIn) {
  std::string key = UniqueKey();
  HttpRange range;
  range.offset = 100;
  range.size = 100;
  Run(servers().FaultUrl("/badrange/" + key + "?size=1000&cr=bytes%20100-199/*"), range);

  auto headers = recorder_->headers();
  ASSERT_EQ(headers.size(), 1u);
  EXPECT_EQ(headers[0].statusCode, 206);
  EXPECT_EQ(headers[0].offset, 0);
  EXPECT_EQ(headers[0].length, 100);  // from Content-Length
  EXPECT_EQ(headers[0].total, 100);
  EXPECT_TRUE(logger_->Has(L"HttpTask::GetContentRange> Unknown content range bytes 100-199/*."))
      << logger_->Dump();
  EXPECT_EQ(recorder_->result(), 0);
}

TEST_F(HttpTaskTest, MissingEtagIsEmptyAndNotLogged) {
  std::string key = UniqueKey();
  Run(servers().FaultUrl("/ok/" + key + "?size=10&noetag=1"));

  auto headers = recorder_->headers();
  ASSERT_EQ(headers.size(), 1u);
  EXPECT_EQ(headers[0].statusCode, 200);
  EXPECT_EQ(headers[0].etag, "");
  EXPECT_EQ(headers[0].total, 10);
  EXPECT_EQ(headers[0].length, 10);
  EXPECT_EQ(logger_->CountContaining(L"HttpTask::GetHeader"), 0u) << logger_->Dump();
  EXPECT_EQ(recorder_->body(), PatternBytes(10));
}

TEST_F(HttpTaskTest, ZeroByteBodyGivesHeaderNoDataAndSuccess) {
  std::string key = UniqueKey();
  Run(servers().FaultUrl("/ok/" + key + "?size=0"));

  auto headers = recorder_->headers();
  ASSERT_EQ(headers.size(), 1u);
  EXPECT_EQ(headers[0].statusCode, 200);
  EXPECT_EQ(headers[0].total, 0);
  EXPECT_EQ(headers[0].length, 0);
  EXPECT_EQ(recorder_->chunks(), 0);
  EXPECT_EQ(recorder_->result(), 0);
  EXPECT_EQ(recorder_->completions(), 1);
}

TEST_F(HttpTaskTest, OtherSchemeFailsBeforeAnyConnection) {
  std::string key = UniqueKey();
  std::wstring url = L"ftp://127.0.0.1:" + std::to_wstring(servers().fault_port()) + L"/ok/" + testsupport::Widen(key);
  Run(url);

  EXPECT_EQ(recorder_->result(), downloader::kResultInvalidUrl);
  EXPECT_EQ(recorder_->completions(), 1);
  EXPECT_TRUE(recorder_->headers().empty());
  EXPECT_TRUE(servers().FaultRequests(key).empty());
}

TEST_F(HttpTaskTest, RangeOfSizeZeroSendsNeitherRangeNorIfRange) {
  std::string key = UniqueKey();
  HttpRange range;
  range.offset = 100;
  range.size = 0;
  range.etag = "\"fixed-1000\"";
  Run(servers().FaultUrl("/ok/" + key + "?size=1000"), range);

  auto asked = servers().FaultRequests(key);
  ASSERT_EQ(asked.size(), 1u);
  EXPECT_EQ(asked[0].range, "");
  EXPECT_EQ(asked[0].if_range, "");
  EXPECT_EQ(recorder_->body(), PatternBytes(1000));
}

TEST_F(HttpTaskTest, RangeWithEtagSendsRangeAndIfRange) {
  std::string key = UniqueKey();
  HttpRange range;
  range.offset = 600;
  range.size = 400;
  range.etag = "\"fixed-1000\"";
  Run(servers().FaultUrl("/ok/" + key + "?size=1000"), range);

  auto asked = servers().FaultRequests(key);
  ASSERT_EQ(asked.size(), 1u);
  EXPECT_EQ(asked[0].range, "bytes=600-999");
  EXPECT_EQ(asked[0].if_range, "\"fixed-1000\"");
  EXPECT_TRUE(logger_->Has(L"HttpTask::SetIfRange> If-Range: \"fixed-1000\"")) << logger_->Dump();
  EXPECT_EQ(recorder_->headers().at(0).statusCode, 206);
  EXPECT_EQ(recorder_->body(), PatternBytes(400, 600));
}

TEST_F(HttpTaskTest, ErrorStatusStillDeliversHeaderAndBody) {
  std::string key = UniqueKey();
  Run(servers().FaultUrl("/status/" + key + "?code=404"));

  auto headers = recorder_->headers();
  ASSERT_EQ(headers.size(), 1u);
  EXPECT_EQ(headers[0].statusCode, 404);
  EXPECT_EQ(recorder_->body(), "status 404");
  EXPECT_EQ(recorder_->result(), 0);
}

TEST_F(HttpTaskTest, NginxHonoursRangeAndRefusesStaleIfRange) {
  std::string name = UniqueKey() + ".bin";
  ASSERT_TRUE(servers().PutPatternFile(name, 5000));
  HttpRange range;
  range.offset = 1000;
  range.size = 2000;
  Run(servers().NginxUrl("/" + name), range);
  auto headers = recorder_->headers();
  ASSERT_EQ(headers.size(), 1u);
  EXPECT_EQ(headers[0].statusCode, 206);
  EXPECT_EQ(headers[0].offset, 1000);
  EXPECT_EQ(headers[0].length, 2000);
  EXPECT_EQ(headers[0].total, 5000);
  EXPECT_FALSE(headers[0].etag.empty());
  EXPECT_EQ(recorder_->body(), PatternBytes(2000, 1000));

  // The same range guarded by a tag the file no longer has: the whole file.
  recorder_ = Make<HttpRecorder>();
  range.etag = "\"stale\"";
  Run(servers().NginxUrl("/" + name), range);
  headers = recorder_->headers();
  ASSERT_EQ(headers.size(), 1u);
  EXPECT_EQ(headers[0].statusCode, 200);
  EXPECT_EQ(headers[0].total, 5000);
  EXPECT_EQ(recorder_->body(), PatternBytes(5000));

  auto asked = servers().NginxRequests(name, 2);
  ASSERT_EQ(asked.size(), 2u);
  EXPECT_EQ(asked[1].range, "bytes=1000-2999");
  EXPECT_EQ(asked[1].if_range, "\"stale\"");
}

TEST_F(HttpTaskTest, RedirectIsFollowedAndLogged) {
  std::string key = UniqueKey();
  std::string target = "http://127.0.0.1:" + std::to_string(servers().fault_port()) + "/ok/" + key + "-target?size=50";
  Run(servers().FaultUrl("/status/" + key + "?code=302&to=" + target));
  auto headers = recorder_->headers();
  ASSERT_EQ(headers.size(), 1u);
  EXPECT_EQ(headers[0].statusCode, 200);
  EXPECT_EQ(recorder_->body(), PatternBytes(50));
  // Followed by the task itself (not by WinINet), one line per hop.
  EXPECT_EQ(logger_->CountContaining(L"HttpTask::FollowRedirect> Redirect 1 to " + testsupport::Widen(target) + L"."),
            1u)
      << logger_->Dump();
  EXPECT_EQ(logger_->CountContaining(L"INTERNET_STATUS_REDIRECT"), 0u) << "WinINet followed nothing itself";
  size_t target_requests = 0;
  for (const auto& r : servers().FaultRequests(key)) target_requests += r.target.rfind("/ok/", 0) == 0 ? 1 : 0;
  EXPECT_EQ(target_requests, 1u);
}

// The hop limit: a chain of exactly kMaxRedirects hops is followed, one more
// ends the task with the redirect failure and one line, without its body.
TEST_F(HttpTaskTest, RedirectsAreFollowedUpToTheLimit) {
  for (int hops : {downloader::kMaxRedirects, downloader::kMaxRedirects + 1}) {
    SCOPED_TRACE(hops);
    recorder_ = Make<HttpRecorder>();
    logger_ = Make<RecordingLogger>();
    std::string key = UniqueKey();
    Run(servers().FaultUrl("/hop/" + key + "/" + std::to_string(hops) + "?size=50"));
    const bool within = hops <= downloader::kMaxRedirects;
    EXPECT_EQ(recorder_->result(), within ? downloader::kResultOk : downloader::kResultRedirectFailed);
    EXPECT_EQ(recorder_->body(), within ? PatternBytes(50) : std::string());
    EXPECT_EQ(servers().FaultRequests(key).size(), static_cast<size_t>(within ? hops + 1 : hops));
    EXPECT_EQ(logger_->CountContaining(L"HttpTask::FollowRedirect> More than 10 redirects"), within ? 0u : 1u)
        << logger_->Dump();
  }
}

TEST_F(HttpTaskTest, RefusedConnectionEndsOnceWithWin32Code) {
  // Port 1: nothing listens there on the test machine.
  std::string key = UniqueKey();
  Run(L"http://127.0.0.1:1/" + testsupport::Widen(key));
  EXPECT_LT(recorder_->result(), 0);
  EXPECT_EQ(static_cast<unsigned long>(recorder_->result()) & 0xFFFF0000UL, 0x80070000UL);
  EXPECT_TRUE(recorder_->headers().empty());
  ::Sleep(50);
  EXPECT_EQ(recorder_->completions(), 1);
}

}  // namespace
