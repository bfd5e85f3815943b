// DownloadFileVerified: the result mapping and the bridge to the properties
// and the stop flag.
#include "utils/download_file_verified.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "downloader/multi_source_task.h"
#include "downloader/object_count.h"
#include "downloader/result_codes.h"
#include "../downloader/download_test_util.h"
#include "support/linked_log.h"
#include "support/test_servers.h"
#include "utils_test_util.h"

namespace downloader = stubframework::downloader;

namespace {

using stubframework::utils::DownloadFileVerified;
using testsupport::NoisyBytes;
using testsupport::UniqueKey;

constexpr long long kMiB = 1048576;

class DownloadFileVerifiedTest : public testsupport::ServerTest {
 protected:
  void SetUp() override {
    ServerTest::SetUp();
    if (HasFatalFailure()) return;
    dest_ = testsupport::TempFilePath(L"verified");
  }
  void TearDown() override {
    ::DeleteFileW(dest_.c_str());
    // What an interrupted transfer keeps for its resumption.
    ::DeleteFileW((dest_ + L".validator").c_str());
  }

  std::string Publish(const std::string& data) {
    std::string name = UniqueKey() + ".bin";
    EXPECT_TRUE(servers().PutFile(name, data));
    EXPECT_TRUE(servers().PutFile(name + ".meta", testsupport::MakeMeta(data)));
    return name;
  }

  std::wstring dest_;
  testsupport::TestHost host_;
};

TEST(VerifiedDownloadResult, KeepsSuccessAbortAndDiskFullAndMapsTheRest) {
  using stubframework::utils::MapVerifiedDownloadResult;
  EXPECT_EQ(MapVerifiedDownloadResult(0), S_OK);
  EXPECT_EQ(MapVerifiedDownloadResult(downloader::kResultAbort), E_ABORT);
  EXPECT_EQ(MapVerifiedDownloadResult(downloader::kResultDiskFull), static_cast<HRESULT>(0x80070070));
  // A damaged file stays a damaged file, not a network failure to retry.
  EXPECT_EQ(MapVerifiedDownloadResult(downloader::kResultBlockUnverifiable), static_cast<HRESULT>(0x80091007));
  const HRESULT kFailure = static_cast<HRESULT>(0x800C0008);
  EXPECT_EQ(MapVerifiedDownloadResult(static_cast<long>(0x80072EE2)), kFailure);  // WinINet timeout
  EXPECT_EQ(MapVerifiedDownloadResult(downloader::kResultFail), kFailure);
  EXPECT_EQ(MapVerifiedDownloadResult(downloader::kResultHttpCancelled), kFailure);
  EXPECT_EQ(MapVerifiedDownloadResult(downloader::kResultOutOfMemory), kFailure);
  EXPECT_EQ(MapVerifiedDownloadResult(1), kFailure);
}

TEST_F(DownloadFileVerifiedTest, DownloadsAndPublishesProgress) {
  std::string data = NoisyBytes(2 * kMiB + 5, 23);
  std::string name = Publish(data);
  HRESULT hr = DownloadFileVerified(host_.host(), servers().NginxUrl("/" + name),
                                    servers().NginxUrl("/" + name + ".meta"), dest_);
  EXPECT_EQ(hr, S_OK);
  EXPECT_EQ(testsupport::ReadWholeFile(dest_), data);
  EXPECT_EQ(host_.properties().GetProperty(L"downloadTotal"), std::to_wstring(data.size()));
  EXPECT_EQ(host_.properties().GetProperty(L"downloadCurrent"), std::to_wstring(data.size()));
}

// A .meta the caller checked (a signed one) is the one the blocks are proven
// against: the meta URL is not asked, neither when it is missing nor when it
// holds another .meta.
TEST_F(DownloadFileVerifiedTest, AHandedOverMetaIsTheOneUsedAndNoneIsFetched) {
  const std::string data = NoisyBytes(2 * kMiB + 9, 41);
  const std::string other = NoisyBytes(2 * kMiB + 9, 43);
  struct Case {
    const char* what;
    std::string given;        // the caller's .meta
    bool served_meta;         // the server has the file's true .meta
    bool taken;
  };
  const Case cases[] = {
      {"the file's .meta, none on the server", testsupport::MakeMeta(data), false, true},
      {"another file's .meta, the true one on the server", testsupport::MakeMeta(other), true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ::DeleteFileW(dest_.c_str());
    std::string name = UniqueKey() + ".bin";
    ASSERT_TRUE(servers().PutFile(name, data));
    if (c.served_meta) ASSERT_TRUE(servers().PutFile(name + ".meta", testsupport::MakeMeta(data)));
    HRESULT hr = DownloadFileVerified(host_.host(), servers().NginxUrl("/" + name),
                                      servers().NginxUrl("/" + name + ".meta"), dest_, &c.given);
    if (c.taken) {
      EXPECT_EQ(hr, S_OK);
      EXPECT_TRUE(testsupport::ReadWholeFile(dest_) == data);
    } else {
      EXPECT_EQ(hr, static_cast<HRESULT>(downloader::kResultBlockUnverifiable)) << std::hex << hr;
    }
  }
}

TEST_F(DownloadFileVerifiedTest, StopRequestEndsWithAbortAtTheNextProgressReport) {
  std::string data = NoisyBytes(4 * kMiB, 29);
  std::string name = Publish(data);
  std::thread stopper([this] {
    // Stop once the transfer has passed its first MiB.
    for (int i = 0; i < 3000; ++i) {
      if (host_.properties().GetDownloadCurrent() > kMiB) break;
      ::Sleep(2);
    }
    host_.cancel = true;
  });
  HRESULT hr = DownloadFileVerified(
      host_.host(), servers().FaultUrl("/slow/" + UniqueKey() + "?src=" + name + "&chunk=65536&ms=10"),
      servers().NginxUrl("/" + name + ".meta"), dest_);
  stopper.join();
  EXPECT_EQ(hr, E_ABORT);
  EXPECT_EQ(testsupport::FileSizeOf(dest_), 4 * kMiB);
  EXPECT_LT(host_.properties().GetDownloadCurrent(), 4 * kMiB);
}

// A stopped download returns before its requests have let go (each close
// reads the rest of a dripping body on a pool thread); the application then
// frees its log. Until the engine has let go of everything no line may reach
// the freed log, and the lines written before the return are all there: for
// one request, and for several connections some of which end after the task.
TEST_F(DownloadFileVerifiedTest, TheEngineWritesNothingToALogItsOwnerLetGoOf) {
  std::string data = NoisyBytes(6 * kMiB, 31);
  std::string name = Publish(data);
  const struct {
    const char* engine;
    int connections;  // 0: the single-request task
    const wchar_t* cancel_line;
  } kCases[] = {{"one request", 0, L"HttpTask::Cancel> Cancel"},
                {"three connections", 3, L"MultiSourceTask::Cancel> Cancel."}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.engine);
    ::DeleteFileW(dest_.c_str());
    ::DeleteFileW((dest_ + L".validator").c_str());
    testsupport::TestHost test_host;
    testsupport::LinkedLog log;
    stubframework::utils::DownloadHost host = test_host.host();
    host.log = &log;
    std::thread stopper([&test_host] {
      for (int i = 0; i < 3000 && test_host.properties().GetDownloadCurrent() <= kMiB; ++i) ::Sleep(2);
      test_host.cancel = true;
    });
    const std::wstring url = servers().FaultUrl("/slow/" + UniqueKey() + "?src=" + name + "&chunk=32768&ms=20");
    const std::wstring meta_url = servers().NginxUrl("/" + name + ".meta");
    HRESULT hr = E_FAIL;
    if (c.connections == 0) {
      hr = DownloadFileVerified(host, url, meta_url, dest_);
    } else {
      downloader::MultiSourceRequest request;
      request.urls = {url};
      request.meta_urls = {meta_url};
      request.path = dest_;
      request.connections = c.connections;
      hr = stubframework::utils::RunVerifiedTask(
          host, [&](downloader::IDownloadCallback* callback, downloader::ILogger* logger) {
            return downloader::CreateMultiSourceTask(request, callback, logger);
          });
    }
    stopper.join();
    log.Retire();
    const bool engine_alive = downloader::details::LiveObjects() != 0;
    for (int i = 0; i < 3000 && downloader::details::LiveObjects() != 0; ++i) ::Sleep(10);
    EXPECT_EQ(hr, E_ABORT);
    EXPECT_EQ(downloader::details::LiveObjects(), 0);
    EXPECT_EQ(log.after_retired(), 0);
    const std::vector<std::wstring> lines = log.lines();
    EXPECT_NE(std::find(lines.begin(), lines.end(), c.cancel_line), lines.end());
    printf("%s: engine objects still alive when the download returned: %s\n", c.engine,
           engine_alive ? "yes" : "no");
  }
}

// While the meta comes there is no progress report to carry the stop; the
// wait itself looks at the flag.
TEST_F(DownloadFileVerifiedTest, AStopIsSeenWhileNoProgressReportComes) {
  std::string data = NoisyBytes(3 * kMiB, 41);
  std::string name = Publish(data);
  std::chrono::steady_clock::time_point stopped_at;
  std::thread stopper([&] {
    ::Sleep(300);
    stopped_at = std::chrono::steady_clock::now();
    host_.cancel = true;
  });
  // The 68-byte meta trickles in 2 bytes every 300 ms: about 10 s.
  HRESULT hr = DownloadFileVerified(
      host_.host(), servers().NginxUrl("/" + name),
      servers().FaultUrl("/slow/" + UniqueKey() + "?src=" + name + ".meta&chunk=2&ms=300"), dest_);
  stopper.join();
  long after_stop = static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                          std::chrono::steady_clock::now() - stopped_at)
                                          .count());
  EXPECT_EQ(hr, E_ABORT);
  EXPECT_LT(after_stop, 3000) << "seen by the wait, not at the meta's end";
  printf("stop during the meta ended the download after %ld ms\n", after_stop);
}

// A stop lands within a second wherever the download is, measured from the
// stop to the worker's result: in a body arriving at full speed (closing the
// request would make Wine read the rest of it first), and in a redirect
// chain whose hops are slow to answer (a pending send that closing does not
// end under Wine).
TEST_F(DownloadFileVerifiedTest, AStopEndsTheDownloadWithinASecondWhereverItIs) {
  struct Case {
    const char* where;
    bool through_hops;
  };
  const Case kCases[] = {{"a transfer at full speed", false}, {"a chain of slow redirects", true}};
  std::string data = testsupport::PatternBytes(64 * kMiB);
  std::string name = UniqueKey() + ".bin";
  ASSERT_TRUE(servers().PutPatternFile(name, data.size()));
  ASSERT_TRUE(servers().PutFile(name + ".meta", testsupport::MakeMeta(data)));
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.where);
    ::DeleteFileW(dest_.c_str());
    testsupport::TestHost host;
    std::chrono::steady_clock::time_point stopped_at;
    std::thread stopper([&] {
      // In the body once its first MiB is in; in the chain while the first
      // hops wait their 1.5 s.
      for (int i = 0; i < 5000; ++i) {
        if (c.through_hops ? i >= 350 : host.properties().GetDownloadCurrent() > kMiB) break;
        ::Sleep(2);
      }
      stopped_at = std::chrono::steady_clock::now();
      host.cancel = true;
    });
    std::wstring url = c.through_hops ? servers().FaultUrl("/hop/" + UniqueKey() + "/5?ms=1500&src=" + name)
                                      : servers().NginxUrl("/" + name);
    HRESULT hr = DownloadFileVerified(host.host(), url, servers().NginxUrl("/" + name + ".meta"), dest_);
    auto returned = std::chrono::steady_clock::now();
    stopper.join();
    long after_stop =
        static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(returned - stopped_at).count());
    EXPECT_EQ(hr, E_ABORT);
    EXPECT_LE(after_stop, 1000);
    EXPECT_LT(host.properties().GetDownloadCurrent(), 64 * kMiB);
    printf("stop during %s: the worker's result %ld ms later\n", c.where, after_stop);
  }
}

TEST_F(DownloadFileVerifiedTest, FailuresBecomeDownloadFailure) {
  std::string name = UniqueKey() + ".bin";  // neither file nor meta exists
  HRESULT hr = DownloadFileVerified(host_.host(), servers().NginxUrl("/" + name),
                                    servers().NginxUrl("/" + name + ".meta"), dest_);
  EXPECT_EQ(hr, static_cast<HRESULT>(0x800C0008));
}

TEST_F(DownloadFileVerifiedTest, ReceiveTimeoutBecomesDownloadFailure) {
  // The body stalls longer than WinINet's 30 s receive timeout.
  std::string data = NoisyBytes(kMiB, 31);
  std::string name = Publish(data);
  auto started = std::chrono::steady_clock::now();
  HRESULT hr = DownloadFileVerified(
      host_.host(), servers().FaultUrl("/stall/" + UniqueKey() + "?src=" + name + "&after=1000&ms=45000"),
      servers().NginxUrl("/" + name + ".meta"), dest_);
  long seconds = static_cast<long>(
      std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - started).count());
  EXPECT_EQ(hr, static_cast<HRESULT>(0x800C0008));
  EXPECT_LT(seconds, 44) << "ended by the server closing, not by the receive timeout";
  printf("stalled download ended after %ld s\n", seconds);
}

TEST_F(DownloadFileVerifiedTest, FullDiskIsReportedAsSuch) {
  std::wstring path = servers().SmallDiskPath(UniqueKey() + ".bin");
  if (path.empty()) GTEST_SKIP() << "the fixture could not mount its 1 MiB file system (no privilege)";
  std::string data = NoisyBytes(3 * kMiB, 37);
  std::string name = Publish(data);
  HRESULT hr = DownloadFileVerified(host_.host(), servers().NginxUrl("/" + name),
                                    servers().NginxUrl("/" + name + ".meta"), path);
  EXPECT_EQ(hr, static_cast<HRESULT>(0x80070070));
  ::DeleteFileW(path.c_str());
}

TEST_F(DownloadFileVerifiedTest, MissingArgumentIsOutOfMemory) {
  EXPECT_EQ(DownloadFileVerified(host_.host(), L"", L"http://127.0.0.1/x.meta", dest_), E_OUTOFMEMORY);
  EXPECT_EQ(DownloadFileVerified(host_.host(), L"http://127.0.0.1/x", L"http://127.0.0.1/x.meta", L""),
            E_OUTOFMEMORY);
}

}  // namespace
