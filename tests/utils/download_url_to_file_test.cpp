// DownloadUrlToFile through URLMon, with the holder and the application's
// bind-status callback.
#include "utils/download_url_to_file.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "../downloader/download_test_util.h"
#include "support/test_servers.h"
#include "utils_test_util.h"

namespace {

using stubframework::utils::DownloadCallback;
using stubframework::utils::DownloadUrlToFile;
using stubframework::utils::PlainTransferResult;
using stubframework::utils::UrlDownloadOptions;
using testsupport::UniqueKey;
using Clock = std::chrono::steady_clock;
constexpr long long kMiB = 1048576;

long MsSince(Clock::time_point start) {
  return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

// URLMon delivers its callbacks through this thread's message queue.
class DownloadUrlToFileTest : public testsupport::ServerTest {
 protected:
  void SetUp() override {
    ServerTest::SetUp();
    if (HasFatalFailure()) return;
    ASSERT_TRUE(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    path_ = testsupport::TempFilePath(L"urlmon");
  }
  void TearDown() override {
    ::DeleteFileW(path_.c_str());
    ::CoUninitialize();
  }
  std::wstring path_;
  testsupport::TestHost host_;
};

TEST_F(DownloadUrlToFileTest, WholeBodyLandsInTheFileAndProgressIsPublished) {
  DownloadCallback callback(&host_.host());
  HRESULT hr = DownloadUrlToFile(servers().FaultUrl("/ok/" + UniqueKey() + "?size=300000"), path_, &callback);
  EXPECT_EQ(hr, S_OK);
  EXPECT_EQ(testsupport::ReadWholeFile(path_), testsupport::PatternBytes(300000));
  EXPECT_TRUE(callback.data_seen());
  EXPECT_EQ(callback.bytes_received(), 300000u);
  EXPECT_EQ(host_.properties().GetDownloadTotal(), 300000);
  EXPECT_EQ(host_.properties().GetDownloadCurrent(), 300000);
}

// What came of a short body is not the file: nothing is put at the target.
TEST_F(DownloadUrlToFileTest, ShortBodyGivesFalseAndNoFile) {
  ::DeleteFileW(path_.c_str());
  HRESULT hr = DownloadUrlToFile(servers().FaultUrl("/drop/" + UniqueKey() + "?size=20&after=10&times=0"), path_,
                                 nullptr);
  EXPECT_EQ(hr, S_FALSE);
  EXPECT_EQ(::GetFileAttributesW(path_.c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(DownloadUrlToFileTest, SizeQueryStopsOnceTheSizeIsKnown) {
  host_.size_query = true;
  DownloadCallback callback(&host_.host());
  HRESULT hr = DownloadUrlToFile(servers().FaultUrl("/ok/" + UniqueKey() + "?size=2000000"), path_, &callback);
  EXPECT_TRUE(FAILED(hr)) << std::hex << hr;
  EXPECT_EQ(host_.properties().GetDownloadTotal(), 2000000);
  EXPECT_LT(testsupport::FileSizeOf(path_), 2000000);
}

TEST_F(DownloadUrlToFileTest, StopFlagAbortsTheDownload) {
  host_.cancel = true;
  DownloadCallback callback(&host_.host());
  HRESULT hr = DownloadUrlToFile(servers().FaultUrl("/slow/" + UniqueKey() + "?size=200000&chunk=4096&ms=5"), path_,
                                 &callback);
  EXPECT_TRUE(FAILED(hr)) << std::hex << hr;
  EXPECT_LT(testsupport::FileSizeOf(path_), 200000);
}

TEST_F(DownloadUrlToFileTest, UnwritableDestinationFailsWithTheWin32Error) {
  HRESULT hr = DownloadUrlToFile(servers().FaultUrl("/ok/" + UniqueKey()), L"Z:\\no\\such\\folder\\x.bin", nullptr);
  EXPECT_EQ(hr, HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND));
}

// Responses that are not the whole file never end as S_OK, nothing of them
// reaches the target (whatever was there stays), and nothing of a refused one
// reaches the application's counters.
TEST_F(DownloadUrlToFileTest, ResponsesThatAreNotTheFileAreRefused) {
  struct Case {
    const char* what;
    std::string fault;  // behaviour and parameters; the key goes between
    bool unchecked;     // no CRC check follows
    HRESULT expected;
    bool publishes;     // a response that was accepted publishes its size
  };
  const Case cases[] = {
      {"404", "status|?code=404", false, INET_E_OBJECT_NOT_FOUND, false},
      {"500", "status|?code=500", false, INET_E_DOWNLOAD_FAILURE, false},
      {"302 without a target", "status|?code=302", false, INET_E_DOWNLOAD_FAILURE, false},
      {"206 that was not asked for", "unasked206|?size=20000", false, INET_E_DOWNLOAD_FAILURE, false},
      {"closed after the headers", "drop|?size=20000&after=0&times=0", true, S_FALSE, true},
      {"cut mid-body", "drop|?size=20000&after=7000&times=0", true, S_FALSE, true},
      {"chunked, cut", "chunked|?size=20000&chunk=3000&cut=10000", true, INET_E_DOWNLOAD_FAILURE, false},
      {"close-delimited, cut", "nolength|?size=20000&cut=10000", true, INET_E_DOWNLOAD_FAILURE, false},
      {"a portal's page", "portal|", true, INET_E_DOWNLOAD_FAILURE, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    testsupport::TestHost host;
    host.properties().SetDownloadTotal(1);
    DownloadCallback callback(&host.host());
    std::string fault = c.fault;
    std::string url = "/" + fault.replace(fault.find('|'), 1, "/" + UniqueKey());
    UrlDownloadOptions options;
    options.unchecked_content = c.unchecked;
    ASSERT_TRUE(testsupport::WriteWholeFile(path_, "earlier"));
    HRESULT hr = DownloadUrlToFile(servers().FaultUrl(url), path_, &callback, options);
    EXPECT_EQ(hr, c.expected) << std::hex << hr;
    EXPECT_EQ(testsupport::ReadWholeFile(path_), "earlier") << "the target is replaced only by a whole file";
    if (c.publishes) {
      EXPECT_EQ(host.properties().GetDownloadTotal(), 20000);
    } else {
      EXPECT_EQ(host.properties().GetDownloadTotal(), 1) << "an error page's size is not published";
      EXPECT_FALSE(callback.data_seen());
      EXPECT_EQ(callback.bytes_received(), 0u) << "no bytes of it count as progress";
    }
  }
}

// With a CRC check to follow, a body without a length is taken as it comes.
TEST_F(DownloadUrlToFileTest, ABodyWithoutALengthIsTakenWhenACrcCheckFollows) {
  for (const char* fault : {"/chunked/", "/nolength/"}) {
    SCOPED_TRACE(fault);
    std::string url = fault + UniqueKey() + "?size=50000&chunk=3000";
    EXPECT_EQ(DownloadUrlToFile(servers().FaultUrl(url), path_, nullptr), S_OK);
    EXPECT_EQ(testsupport::ReadWholeFile(path_), testsupport::PatternBytes(50000));
  }
}

// A server that never answers sends no event that would end the wait.
TEST_F(DownloadUrlToFileTest, NothingHeardForTheIdleTimeoutEndsTheDownload) {
  UrlDownloadOptions options;
  options.idle_timeout_ms = 700;
  auto started = Clock::now();
  HRESULT hr = DownloadUrlToFile(servers().FaultUrl("/silent/" + UniqueKey() + "?ms=8000"), path_, nullptr, options);
  long took = MsSince(started);
  EXPECT_EQ(hr, INET_E_CONNECTION_TIMEOUT) << std::hex << hr;
  EXPECT_GE(took, 700);
  EXPECT_LT(took, 6000) << "ended by the timeout, not by the server closing after 8 s";
}

// Bodies of several of the engine's reads (they grow to 1 MiB) land whole,
// and the last progress report is the whole size.
TEST_F(DownloadUrlToFileTest, ABodyOfManyReadsLandsWholeWithItsCount) {
  for (int size : {1048575, 3 * 1048576 + 1}) {
    SCOPED_TRACE(size);
    DownloadCallback callback(&host_.host());
    std::string url = "/ok/" + UniqueKey() + "?size=" + std::to_string(size);
    ASSERT_EQ(DownloadUrlToFile(servers().FaultUrl(url), path_, &callback), S_OK);
    EXPECT_TRUE(testsupport::ReadWholeFile(path_) == testsupport::PatternBytes(size));
    EXPECT_EQ(host_.properties().GetDownloadTotal(), size);
    EXPECT_EQ(host_.properties().GetDownloadCurrent(), size);
  }
}

// How an engine's end becomes the plain download's result: what the URL
// moniker answered, so that the worker's mapping and retries stay as they were.
TEST(PlainTransferResultTest, EndsMapToTheMonikersResults) {
  const long kCannotConnect = static_cast<long>(0x80072EFD);  // ERROR_INTERNET_CANNOT_CONNECT
  const long kNameNotResolved = static_cast<long>(0x80072EE7);
  const long kTimeout = static_cast<long>(0x80072EE2);
  const long kReset = static_cast<long>(0x80072EFF);  // ERROR_INTERNET_CONNECTION_RESET
  const long kInvalidCa = static_cast<long>(0x80072F0D);
  const long kRedirectFailed = static_cast<long>(0x800C0014);
  struct Case {
    const char* what;
    long end;
    bool accepted;
    int64_t announced;
    int64_t written;
    HRESULT expected;
  };
  const Case cases[] = {
      {"whole", 0, true, 100, 100, S_OK},
      {"empty file", 0, true, 0, 0, S_OK},
      {"no length, ended cleanly", 0, true, -1, 5000, S_OK},
      {"one byte short, ended cleanly", 0, true, 100, 99, S_FALSE},
      {"nothing after the headers", 0, true, 100, 0, S_FALSE},
      {"cut by a reset", kReset, true, 100, 40, S_FALSE},
      {"no length, cut by a reset", kReset, true, -1, 40, INET_E_DOWNLOAD_FAILURE},
      {"ended without a response", 0, false, -1, 0, INET_E_DOWNLOAD_FAILURE},
      {"server down", kCannotConnect, false, -1, 0, INET_E_RESOURCE_NOT_FOUND},
      {"unknown host", kNameNotResolved, false, -1, 0, INET_E_RESOURCE_NOT_FOUND},
      {"timeout", kTimeout, false, -1, 0, INET_E_CONNECTION_TIMEOUT},
      {"certificate", kInvalidCa, false, -1, 0, static_cast<HRESULT>(0x800C0019)},
      {"redirects", kRedirectFailed, false, -1, 0, INET_E_REDIRECT_FAILED},
      {"out of memory", static_cast<long>(E_OUTOFMEMORY), false, -1, 0, E_OUTOFMEMORY},
      {"anything else", static_cast<long>(0x80072EF1), false, -1, 0, INET_E_DOWNLOAD_FAILURE},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(PlainTransferResult(c.end, c.accepted, c.announced, c.written), c.expected);
  }
}

// A stop lands within a second on the plain path too, measured from the stop
// to the result: in a body at full speed and while slow redirects wait.
TEST_F(DownloadUrlToFileTest, AStopEndsTheDownloadWithinASecondWhereverItIs) {
  const std::string name = UniqueKey() + ".bin";
  ASSERT_TRUE(servers().PutPatternFile(name, 64 * kMiB));
  for (bool through_hops : {false, true}) {
    SCOPED_TRACE(through_hops ? "a chain of slow redirects" : "a transfer at full speed");
    ::DeleteFileW(path_.c_str());
    testsupport::TestHost host;
    std::atomic<bool> stop{false};
    UrlDownloadOptions options;
    options.stop = [&stop] { return stop.load(); };
    Clock::time_point stopped_at;
    std::thread stopper([&] {
      for (int i = 0; i < 5000; ++i) {
        if (through_hops ? i >= 350 : host.properties().GetDownloadCurrent() > kMiB) break;
        ::Sleep(2);
      }
      stopped_at = Clock::now();
      stop = true;
    });
    DownloadCallback callback(&host.host());
    std::wstring url = through_hops ? servers().FaultUrl("/hop/" + UniqueKey() + "/5?ms=1500&src=" + name)
                                    : servers().NginxUrl("/" + name);
    HRESULT hr = DownloadUrlToFile(url, path_, &callback, options);
    Clock::time_point returned = Clock::now();
    stopper.join();
    long after_stop =
        static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(returned - stopped_at).count());
    EXPECT_EQ(hr, E_ABORT) << std::hex << hr;
    EXPECT_LE(after_stop, 1000);
    EXPECT_LT(callback.bytes_received(), static_cast<ULONG>(64 * kMiB));
  }
}

}  // namespace
