// TransferDownloadError against the test servers, with a short retry pause:
// retries, the attempt budget of plain downloads, tokenizing, and the
// connection check after failures.
#include "workflow/transfer_download_error.h"

#include <winsock2.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include <wininet.h>

#include <atomic>
#include <chrono>
#include <string>
#include <vector>

#include "app/app_log.h"
#include "base/critical_section.h"
#include "base/property_bag.h"
#include "base/wide_format.h"
#include "downloader/download_test_util.h"
#include "downloader/redirects.h"
#include "downloader/resume_validator.h"
#include "support/test_servers.h"
#include "utils/tokenize_url.h"

namespace stubframework::workflow {
namespace {

using testsupport::UniqueKey;

constexpr DWORD kShortPauseMs = 10;

// A port on 127.0.0.1 that nothing listens on.
int DeadPort() {
  WSADATA data;
  ::WSAStartup(MAKEWORD(2, 2), &data);
  SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int length = sizeof(address);
  ::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof(address));
  ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &length);
  ::closesocket(s);
  return ntohs(address.sin_port);
}

class TransferDownloadErrorTest : public testsupport::ServerTest {
 protected:
  void SetUp() override {
    ServerTest::SetUp();
    if (HasFatalFailure()) return;
    ASSERT_TRUE(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
    path_ = testsupport::TempFilePath(L"transfer");
    host_.log = &log_;
    host_.properties = &properties_;
    host_.cancel_requested = [this] { return cancel_.load(); };
    host_.size_query = [] { return false; };
    settings_.retry_pause_ms = kShortPauseMs;
  }
  void TearDown() override {
    ::DeleteFileW(path_.c_str());
    ::CoUninitialize();
  }

  int Transfer(const std::wstring& url, bool resume, bool secure = false) {
    return TransferDownloadError(host_, TransferRequest{url, path_, secure, resume}, settings_);
  }
  // How many attempts ended with `hr`, from the log.
  int AttemptsLogged(HRESULT hr) {
    std::string text;
    for (char c : testsupport::ReadWholeFile(log_.path())) {
      if (c != '\r') text.push_back(c);  // the log is written in text mode
    }
    std::string line = base::ToAnsi(base::Format(L"TransferDownloadError HRESULT: %x\n", hr));
    int count = 0;
    for (size_t at = text.find(line); at != std::string::npos; at = text.find(line, at + 1)) ++count;
    return count;
  }
  // Log lines that contain `text`.
  int LinesWith(const std::string& text) {
    std::string log = testsupport::ReadWholeFile(log_.path());
    int count = 0;
    for (size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1)) ++count;
    return count;
  }
  std::string Publish(const std::string& data, bool with_meta) {
    std::string name = UniqueKey() + ".bin";
    EXPECT_TRUE(servers().PutFile(name, data));
    if (with_meta) {
      EXPECT_TRUE(servers().PutFile(name + ".meta", testsupport::MakeMeta(data)));
    }
    return name;
  }

  app::AppLog log_;
  base::PropertyBag bag_;
  base::CriticalSection lock_;
  base::LockedProperties properties_{bag_, lock_};
  std::atomic<bool> cancel_{false};
  utils::DownloadHost host_;
  TransferSettings settings_;
  std::wstring path_;
};

TEST_F(TransferDownloadErrorTest, PlainDownloadIsRetriedBeyondTenAttemptsWhileEachOneGetsFurther) {
  std::string key = UniqueKey();
  // The first fourteen requests break off, each 300 bytes later than the one
  // before; the fifteenth is whole.
  int code = Transfer(servers().FaultUrl("/drop/" + key +
                                         "?size=5000&after=300,600,900,1200,1500,1800,2100,2400,2700,3000,"
                                         "3300,3600,3900,4200&times=14"),
                      false);
  EXPECT_EQ(code, kNoError);
  auto asked = servers().FaultRequests(key);
  ASSERT_EQ(asked.size(), 15u);
  for (const auto& request : asked) {
    EXPECT_EQ(request.target, asked[0].target) << "one cache-busting URL for every attempt";
  }
  EXPECT_NE(asked[0].target.find("&times=14&timestamp="), std::string::npos) << asked[0].target;
  EXPECT_EQ(testsupport::ReadWholeFile(path_), testsupport::PatternBytes(5000));
  EXPECT_EQ(AttemptsLogged(S_FALSE), 14);
  EXPECT_EQ(AttemptsLogged(S_OK), 1);
}

TEST_F(TransferDownloadErrorTest, PlainDownloadThatAlwaysBreaksOffAtTheSamePlaceEndsAfterTenMoreAttempts) {
  std::string key = UniqueKey();
  int code = Transfer(servers().FaultUrl("/drop/" + key + "?size=5000&after=1000&times=0"), false);
  EXPECT_EQ(code, kFailure);
  // The first attempt got further than none before it; the next ten did not.
  EXPECT_EQ(servers().FaultRequests(key).size(), 11u);
}

TEST_F(TransferDownloadErrorTest, PlainDownloadStopsAfterTenAttemptsInARowWithoutData) {
  std::string key = UniqueKey();
  int code = Transfer(servers().FaultUrl("/drop/" + key + "?size=5000&after=0&times=0"), false);
  EXPECT_EQ(code, kFailure) << "the server is up: no NoNetwork";
  EXPECT_EQ(servers().FaultRequests(key).size(), 10u);
}

TEST_F(TransferDownloadErrorTest, VerifiedDownloadGivesUpAfterTenFailedAttempts) {
  std::string name = Publish(testsupport::NoisyBytes(100000, 5), false);  // no meta file: every attempt fails
  int code = Transfer(servers().NginxUrl("/" + name), true);
  EXPECT_EQ(code, kFailure);
  EXPECT_EQ(servers().NginxRequests(name + ".meta", 10).size(), 10u);
  EXPECT_EQ(AttemptsLogged(static_cast<HRESULT>(0x800C0008)), 10);
}

// Attempts that get no further stop once the stall limit has passed since the
// last one that did: a limit of 0 leaves no retry, the product's leaves the ten
// quick failures above.
TEST_F(TransferDownloadErrorTest, VerifiedAttemptsThatGetNoFurtherStopAtTheStallLimit) {
  std::string name = Publish(testsupport::NoisyBytes(100000, 6), false);
  settings_.stall_limit_ms = 0;
  EXPECT_EQ(Transfer(servers().NginxUrl("/" + name), true), kFailure);
  EXPECT_EQ(servers().NginxRequests(name + ".meta", 1).size(), 1u);
  EXPECT_EQ(AttemptsLogged(static_cast<HRESULT>(0x800C0008)), 1);
}

TEST_F(TransferDownloadErrorTest, VerifiedDownloadSucceedsWithoutRetry) {
  std::string data = testsupport::NoisyBytes(1500000, 7);
  std::string name = Publish(data, true);
  EXPECT_EQ(Transfer(servers().NginxUrl("/" + name), true), kNoError);
  EXPECT_EQ(testsupport::ReadWholeFile(path_), data);
  EXPECT_EQ(AttemptsLogged(S_OK), 1);
  EXPECT_EQ(properties_.GetDownloadCurrent(), 1500000);
}

TEST_F(TransferDownloadErrorTest, FailuresAgainstADeadServerAreNoNetwork) {
  std::wstring url = base::Format(L"http://127.0.0.1:%d/x.bin", DeadPort());
  EXPECT_EQ(Transfer(url, true), kNoNetwork);
  EXPECT_EQ(AttemptsLogged(static_cast<HRESULT>(0x800C0008)), 10);
  EXPECT_FALSE(CanConnect(url));
  EXPECT_TRUE(CanConnect(servers().NginxUrl("/")));
}

TEST_F(TransferDownloadErrorTest, SecureDownloadTokenizesTheFileAndItsMetaSeparately) {
  std::string data = testsupport::NoisyBytes(300000, 9);
  std::string name = Publish(data, true);
  std::string key = UniqueKey();
  std::wstring service = servers().FaultUrl("/token/" + key + "/v1/token");
  settings_.tokenize = [service](std::wstring& url) { return utils::TokenizeUrlAt(service, url); };
  EXPECT_EQ(Transfer(servers().NginxUrl("/" + name), true, true), kNoError);
  EXPECT_EQ(servers().FaultRequests(key).size(), 2u) << "one exchange per URL";
  // The local service answers http URLs, which are not used: both transfers
  // keep their own addresses.
  EXPECT_EQ(servers().NginxRequests(name + "?token=" + key, 0).size(), 0u);
  EXPECT_EQ(servers().NginxRequests(name + ".meta?token=" + key, 0).size(), 0u);
  EXPECT_GE(servers().NginxRequests(name + ".meta", 1).size(), 1u);
  EXPECT_EQ(testsupport::ReadWholeFile(path_), data);
}

// A query (a CDN's signed token) stays the query of the meta URL: a server
// that ignores queries still answers the meta request with the meta, not the file.
TEST_F(TransferDownloadErrorTest, AUrlWithAQueryIsVerifiedAgainstTheMetaBesideItsPath) {
  std::string data = testsupport::NoisyBytes(1200000, 12);
  std::string name = Publish(data, true);
  EXPECT_EQ(Transfer(servers().NginxUrl("/" + name + "?sig=a.b&exp=9"), true), kNoError);
  EXPECT_EQ(testsupport::ReadWholeFile(path_), data);
  EXPECT_EQ(servers().NginxRequests(name + ".meta?sig=a.b&exp=9", 1).size(), 1u);
  EXPECT_EQ(AttemptsLogged(S_OK), 1);
}

TEST_F(TransferDownloadErrorTest, WithoutSecureNothingIsTokenized) {
  std::string name = Publish(testsupport::NoisyBytes(1000, 3), true);
  bool asked = false;
  settings_.tokenize = [&asked](std::wstring&) { return asked = true; };
  EXPECT_EQ(Transfer(servers().NginxUrl("/" + name), true, false), kNoError);
  EXPECT_FALSE(asked);
}

// A stop request between failing attempts ends the retries with Abort instead
// of running out the attempts and reporting a failure the user did not see.
TEST_F(TransferDownloadErrorTest, AStopRequestEndsFailingRetriesWithAbort) {
  std::string name = Publish(testsupport::NoisyBytes(1000, 4), false);
  cancel_ = true;
  EXPECT_EQ(Transfer(servers().NginxUrl("/" + name), true), kAbort);
  EXPECT_EQ(servers().NginxRequests(name + ".meta", 1).size(), 1u);
  std::string key = UniqueKey();
  EXPECT_EQ(Transfer(servers().FaultUrl("/drop/" + key + "?size=5000&after=0&times=0"), false), kAbort);
  EXPECT_LE(servers().FaultRequests(key).size(), 1u) << "no attempt after the stop";
}

// The file changed on the server after its meta was read: after three
// fruitless downloads the attempt fetches the meta once more, reads the new
// one and proves the file already on disk, without a failed attempt.
TEST_F(TransferDownloadErrorTest, AFileReplacedAfterItsMetaWasReadIsTakenByTheNextAttempt) {
  std::string old_data = testsupport::NoisyBytes(4 * 1048576, 61);
  std::string data = old_data;
  data[2 * 1048576 + 77] ^= 0x33;  // the new release differs in block 2
  std::string old_name = Publish(old_data, true);
  std::string name = Publish(data, true);
  std::string key = UniqueKey();
  // The meta URL ends its path in ".meta" and keeps the query, so the server
  // serves name.meta for it (and, while the swap lasts, old_name.meta).
  int code = Transfer(servers().FaultUrl("/swap/" + key + "?old=" + old_name + ".meta&src=" + name), true);
  EXPECT_EQ(code, kNoError);
  EXPECT_EQ(testsupport::ReadWholeFile(path_), data);
  EXPECT_EQ(AttemptsLogged(static_cast<HRESULT>(0x800C0008)), 0);
  EXPECT_EQ(AttemptsLogged(S_OK), 1);
  EXPECT_EQ(LinesWith("fetching the meta once more"), 1);
  std::vector<std::string> asked;
  for (const auto& r : servers().FaultRequests(key)) {
    bool meta = r.target.find(".meta?") != std::string::npos;
    asked.push_back(meta ? "meta " + r.note : r.range);
  }
  const std::string from2 = "bytes=2097152-4194303";
  EXPECT_EQ(asked, (std::vector<std::string>{"meta old 200", "bytes=0-4194303", from2, from2, from2, "meta 200"}))
      << "with the new meta the file on disk needs nothing more";
}

TEST_F(TransferDownloadErrorTest, AMetaAnnouncingMoreThanTheDiskHoldsIsDiskFullWithoutRetry) {
  std::wstring folder = path_.substr(0, path_.find_last_of(L'\\') + 1);
  ULARGE_INTEGER available;
  ASSERT_TRUE(::GetDiskFreeSpaceExW(folder.c_str(), &available, nullptr, nullptr));
  const long long size = static_cast<long long>(available.QuadPart) + (4LL << 30);
  std::string meta(static_cast<size_t>(8 + 20 * ((size + 1048575) / 1048576)), '\0');
  for (int i = 0; i < 8; ++i) meta[i] = static_cast<char>((size >> (8 * i)) & 0xFF);
  std::string name = UniqueKey() + ".bin";
  ASSERT_TRUE(servers().PutFile(name, "small"));
  ASSERT_TRUE(servers().PutFile(name + ".meta", meta));
  EXPECT_EQ(Transfer(servers().NginxUrl("/" + name), true), kDiskFull);
  EXPECT_EQ(AttemptsLogged(static_cast<HRESULT>(0x80070070)), 1);
  EXPECT_EQ(::GetFileAttributesW(path_.c_str()), INVALID_FILE_ATTRIBUTES) << "no file of that size was made";
}

}  // namespace
}  // namespace stubframework::workflow

namespace stubframework::workflow {
namespace {

using Clock = std::chrono::steady_clock;
constexpr int kMaxHops = downloader::kMaxRedirects;

long MsSince(Clock::time_point start) {
  return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

// Both paths follow a chain of exactly the limit's hops (the verified path for
// its meta and its file alike); one hop more ends the download in its first
// attempt, with nothing at the target.
TEST_F(TransferDownloadErrorTest, RedirectChainsAreFollowedUpToTheLimitAndNoFurther) {
  std::string data = testsupport::NoisyBytes(300000, 21);
  std::string name = Publish(data, true);
  for (bool resume : {false, true}) {
    for (int hops : {kMaxHops, kMaxHops + 1}) {
      SCOPED_TRACE(std::string(resume ? "verified, " : "plain, ") + std::to_string(hops) + " hops");
      ::DeleteFileW(path_.c_str());
      std::string key = UniqueKey();
      const int refused_before = LinesWith("HRESULT: 800c0014 (");
      int code = Transfer(servers().FaultUrl("/hop/" + key + "/" + std::to_string(hops) + "?src=" + name), resume);
      size_t asked = servers().FaultRequests(key).size();
      if (hops <= kMaxHops) {
        EXPECT_EQ(code, kNoError);
        EXPECT_TRUE(testsupport::ReadWholeFile(path_) == data);
        EXPECT_EQ(asked, static_cast<size_t>((hops + 1) * (resume ? 2 : 1)));
      } else {
        EXPECT_EQ(code, kFailure);
        EXPECT_EQ(LinesWith("HRESULT: 800c0014 (") - refused_before, 1) << "one attempt, one line";
        EXPECT_GE(asked, static_cast<size_t>(kMaxHops + 1));
        EXPECT_LE(asked, static_cast<size_t>(kMaxHops + 2)) << "no second attempt";
        EXPECT_EQ(::GetFileAttributesW(path_.c_str()), INVALID_FILE_ATTRIBUTES);
      }
    }
  }
}

// A URL that redirects to itself once cost tens of thousands of requests and
// never ended; now it ends within the limit on either path.
TEST_F(TransferDownloadErrorTest, ARedirectLoopEndsAtOnce) {
  for (bool resume : {false, true}) {
    SCOPED_TRACE(resume ? "verified" : "plain");
    std::string key = UniqueKey();
    auto started = Clock::now();
    EXPECT_EQ(Transfer(servers().FaultUrl("/hop/" + key + "/0?loop=1&size=1000"), resume), kFailure);
    EXPECT_LT(MsSince(started), 5000);
    EXPECT_LE(servers().FaultRequests(key).size(), static_cast<size_t>(kMaxHops + 2));
  }
}

// Every request of a download (a verified one's meta and file, a plain
// one's file) asks any cache on the way to ask the origin, and for the bytes
// as the server holds them.
TEST_F(TransferDownloadErrorTest, EveryEngineRequestAsksForTheIdentityEncodingAndPastEveryCache) {
  std::string name = Publish(testsupport::NoisyBytes(200000, 31), true);
  std::string key = UniqueKey();
  ASSERT_EQ(Transfer(servers().FaultUrl("/ok/" + key + "/f?src=" + name + "&showheaders=1"), true), kNoError);
  auto asked = servers().FaultRequests(key);
  ASSERT_EQ(asked.size(), 2u);
  std::string plain_key = UniqueKey();
  ASSERT_EQ(Transfer(servers().FaultUrl("/ok/" + plain_key + "?size=20000&showheaders=1"), false), kNoError);
  auto plain = servers().FaultRequests(plain_key);
  ASSERT_EQ(plain.size(), 1u);
  asked.insert(asked.end(), plain.begin(), plain.end());
  for (const auto& request : asked) {
    SCOPED_TRACE(request.target + ": " + request.note);
    EXPECT_NE(request.note.find("cc=no-cache "), std::string::npos);
    EXPECT_NE(request.note.find("pragma=no-cache "), std::string::npos);
    EXPECT_NE(request.note.find("ae=identity "), std::string::npos);
    EXPECT_EQ(request.note.find("gzip"), std::string::npos);
  }
}

// A server that compresses what it may (web servers do for text types by
// default). The engine asks for the file as it is and gets it; where the URL
// moniker accepts compression, the answer comes decoded without a length and
// is taken only when a CRC check follows. Either way the progress total is
// the file's size.
TEST_F(TransferDownloadErrorTest, ACompressingServerGivesTheFileAsItIsOrAnAnswerWithoutALength) {
  const std::string data = testsupport::PatternBytes(300000);
  std::string meta_key = UniqueKey();
  ASSERT_TRUE(servers().PutFile(meta_key + ".bin", data));
  ASSERT_TRUE(servers().PutFile(meta_key + ".bin.meta", testsupport::MakeMeta(data)));
  std::string key = UniqueKey();
  EXPECT_EQ(Transfer(servers().FaultUrl("/gzip/" + key + "/f?src=" + meta_key + ".bin"), true), kNoError);
  EXPECT_TRUE(testsupport::ReadWholeFile(path_) == data);
  for (const auto& request : servers().FaultRequests(key)) EXPECT_NE(request.note.find("identity"), std::string::npos);

  for (bool crc_follows : {false, true}) {
    SCOPED_TRACE(crc_follows ? "plain, CRC follows" : "plain, nothing checks it");
    ::DeleteFileW(path_.c_str());
    properties_.SetDownloadTotal(1);
    key = UniqueKey();
    TransferRequest request{servers().FaultUrl("/gzip/" + key + "?size=300000"), path_, false, false, crc_follows};
    int code = TransferDownloadError(host_, request, settings_);
    auto asked = servers().FaultRequests(key);
    ASSERT_FALSE(asked.empty());
    const bool compressed = asked[0].note.find("gzip") != std::string::npos;
    if (compressed && !crc_follows) {
      EXPECT_EQ(code, kFailure) << "an answer without a length, and nothing to prove it whole";
      EXPECT_EQ(::GetFileAttributesW(path_.c_str()), INVALID_FILE_ATTRIBUTES);
      continue;
    }
    EXPECT_EQ(code, kNoError);
    EXPECT_TRUE(testsupport::ReadWholeFile(path_) == data);
    EXPECT_EQ(properties_.GetDownloadTotal(), 300000);
  }
}

// Whether the URL cache holds an entry whose URL contains `needle`.
bool CacheHolds(const std::string& needle) {
  const std::wstring wide(needle.begin(), needle.end());
  std::vector<char> buffer(64 * 1024);
  DWORD size = static_cast<DWORD>(buffer.size());
  auto* entry = reinterpret_cast<INTERNET_CACHE_ENTRY_INFOW*>(buffer.data());
  HANDLE find = ::FindFirstUrlCacheEntryW(nullptr, entry, &size);
  if (find == nullptr) return false;
  bool found = false;
  do {
    if (entry->lpszSourceUrlName != nullptr && std::wstring(entry->lpszSourceUrlName).find(wide) != std::wstring::npos) {
      found = true;
    }
    size = static_cast<DWORD>(buffer.size());
  } while (!found && ::FindNextUrlCacheEntryW(find, entry, &size));
  ::FindCloseUrlCache(find);
  return found;
}

// Every byte of a plain download was once written twice: to the target and
// to the browser's cache, which kept a full copy of every download.
TEST_F(TransferDownloadErrorTest, APlainDownloadLeavesNoCopyInTheCache) {
  std::string control = UniqueKey();
  std::wstring control_file = path_ + L".control";
  ASSERT_EQ(::URLDownloadToFileW(nullptr, servers().FaultUrl("/ok/" + control + "?size=20000").c_str(),
                                 control_file.c_str(), 0, nullptr),
            S_OK);
  ::DeleteFileW(control_file.c_str());
  if (!CacheHolds(control)) GTEST_SKIP() << "this system's URL moniker keeps no cache to look into";
  std::string key = UniqueKey();
  ASSERT_EQ(Transfer(servers().FaultUrl("/ok/" + key + "?size=400000"), false), kNoError);
  EXPECT_FALSE(CacheHolds(key));
}

// A plain download writes beside its target and puts the file in place only
// when it is whole: a failure leaves the earlier file as it was, and nothing
// of the attempt behind.
TEST_F(TransferDownloadErrorTest, AFailedPlainDownloadLeavesTheTargetAsItWas) {
  const std::string previous = "the release installed last time";
  ASSERT_TRUE(testsupport::WriteWholeFile(path_, previous));
  for (const char* fault : {"/drop/|?size=5000&after=1000&times=0", "/status/|?code=500", "/hop/|/0?loop=1"}) {
    SCOPED_TRACE(fault);
    std::string url = fault;
    url.replace(url.find('|'), 1, UniqueKey());
    EXPECT_EQ(Transfer(servers().FaultUrl(url), false), kFailure);
    EXPECT_EQ(testsupport::ReadWholeFile(path_), previous);
  }
  WIN32_FIND_DATAW found;
  HANDLE find = ::FindFirstFileW((path_ + L".*.partial").c_str(), &found);
  EXPECT_EQ(find, INVALID_HANDLE_VALUE) << "an attempt's file was left behind";
  if (find != INVALID_HANDLE_VALUE) ::FindClose(find);
  std::string key = UniqueKey();
  EXPECT_EQ(Transfer(servers().FaultUrl("/ok/" + key + "?size=7000"), false), kNoError);
  EXPECT_TRUE(testsupport::ReadWholeFile(path_) == testsupport::PatternBytes(7000));
}

}  // namespace
}  // namespace stubframework::workflow

namespace stubframework::workflow {
namespace {

// A server without ranges under a download cut part way: the next request
// asks for the rest, gets the whole file with 200, and takes it from byte 0 on
// that answer (every block proven again) instead of refusing it attempt after
// attempt.
TEST_F(TransferDownloadErrorTest, AServerWithoutRangesGivesTheWholeFileOnceAndItIsTaken) {
  std::string data = testsupport::NoisyBytes(4 * 1048576, 41);
  std::string name = Publish(data, true);
  std::string key = UniqueKey();
  // Request 0 is the meta (never cut), request 1 breaks off after 2.5 MiB.
  int code = Transfer(
      servers().FaultUrl("/drop/" + key + "/f?src=" + name + "&norange=1&times=2&after=100000000,2621440"), true);
  EXPECT_EQ(code, kNoError);
  EXPECT_TRUE(testsupport::ReadWholeFile(path_) == data);
  std::vector<std::string> asked;
  for (const auto& r : servers().FaultRequests(key)) asked.push_back(r.range + " " + r.note);
  // The broken-off body is proven and the next attempt asks from its last
  // whole block; the whole file it gets is the only other body.
  EXPECT_EQ(asked, (std::vector<std::string>{" drop 200", "bytes=0-4194303 drop 200", " 200",
                                             "bytes=2097152-4194303 200"}));
  EXPECT_EQ(LinesWith("the whole file again from byte 0"), 1);
  EXPECT_EQ(AttemptsLogged(S_OK), 1);
}

}  // namespace
}  // namespace stubframework::workflow

namespace stubframework::workflow {
namespace {

// The elevated stub never writes through a link someone placed at the
// target: the verified path refuses it once (no retry can change it) and
// whatever the link leads to stays as it was.
TEST_F(TransferDownloadErrorTest, AVerifiedDownloadNeverWritesThroughALinkAtItsTarget) {
  const std::wstring folder = STUB_DOWNLOAD_LINK_DIR;
  std::string name = Publish(testsupport::NoisyBytes(300000, 51), true);
  int tried = 0;
  for (const wchar_t* link_name : {L"target.bin", L"folder-link"}) {
    const std::wstring link = folder + L"\\" + link_name;
    DWORD attributes = ::GetFileAttributesW(link.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) continue;
    ++tried;
    SCOPED_TRACE(base::ToAnsi(link_name));
    const int refused_before = LinesWith("The target is a link; refused");
    const size_t metas_before = servers().NginxRequests(name + ".meta").size();
    TransferRequest request{servers().NginxUrl("/" + name), link, false, true};
    EXPECT_EQ(TransferDownloadError(host_, request, settings_), kFailure);
    EXPECT_EQ(LinesWith("The target is a link; refused") - refused_before, 1) << "refused once, not retried";
    EXPECT_EQ(servers().NginxRequests(name + ".meta", metas_before + 1).size(), metas_before + 1);
  }
  EXPECT_EQ(testsupport::ReadWholeFile(folder + L"\\victim.txt"), "keep me\n");
  WIN32_FIND_DATAW found;
  HANDLE find = ::FindFirstFileW((folder + L"\\elsewhere\\*.*").c_str(), &found);
  int entries = 0;
  if (find != INVALID_HANDLE_VALUE) {
    do {
      if (wcscmp(found.cFileName, L".") != 0 && wcscmp(found.cFileName, L"..") != 0) ++entries;
    } while (::FindNextFileW(find, &found));
    ::FindClose(find);
  }
  EXPECT_EQ(entries, 0) << "nothing was written where the folder link leads";
  if (tried == 0) GTEST_SKIP() << "no link fixture: this system shows neither Unix symbolic link CMake made as a link";
}

}  // namespace
}  // namespace stubframework::workflow

namespace stubframework::workflow {
namespace {

// A partial download left by an earlier process resumes under the validator
// kept beside it: a usable one that still matches gets the rest (206), a
// stale one gets the whole file, taken from byte 0; a side file that is not a
// validator is never sent. The side file goes once the file is whole.
TEST_F(TransferDownloadErrorTest, APartialFileFromAnEarlierRunResumesUnderItsKeptValidator) {
  const std::string data = testsupport::NoisyBytes(3 * 1048576, 71);
  const std::string name = Publish(data, true);
  const std::string current = "\"fixed-" + std::to_string(data.size()) + "\"";
  struct Case {
    const char* what;
    const char* kept;  // null: no side file
    const char* sent;  // the If-Range of the request for the rest
    const char* note;  // how the server answered it
  };
  const Case cases[] = {
      {"none", nullptr, "", "206"},
      {"current", current.c_str(), current.c_str(), "206"},
      {"stale", "\"older\"", "\"older\"", "200"},
      {"header injection", "\"x\"\r\nX-Evil: 1", "", "206"},
      {"too long", nullptr, "", "206"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::wstring side = downloader::ValidatorPathFor(path_);
    ASSERT_TRUE(testsupport::WriteWholeFile(path_, data.substr(0, 2 * 1048576 + 5000)));
    ::DeleteFileW(side.c_str());
    if (c.kept != nullptr) {
      ASSERT_TRUE(testsupport::WriteWholeFile(side, c.kept));
    }
    if (std::string(c.what) == "too long") {
      ASSERT_TRUE(testsupport::WriteWholeFile(side, std::string(downloader::kMaxValidatorLength + 1, 'a')));
    }
    std::string key = UniqueKey();
    ASSERT_EQ(Transfer(servers().FaultUrl("/ok/" + key + "/f?src=" + name), true), kNoError);
    EXPECT_TRUE(testsupport::ReadWholeFile(path_) == data);
    auto asked = servers().FaultRequests(key);
    ASSERT_EQ(asked.size(), 2u) << "the meta, then the rest";
    EXPECT_EQ(asked[1].range, "bytes=2097152-3145727");
    EXPECT_EQ(asked[1].if_range, c.sent);
    EXPECT_EQ(asked[1].note, c.note);
    EXPECT_EQ(::GetFileAttributesW(side.c_str()), INVALID_FILE_ATTRIBUTES);
  }
}

// The validator of a download that breaks off is kept beside it for the
// next process.
TEST_F(TransferDownloadErrorTest, ADownloadThatBreaksOffKeepsItsValidatorBesideIt) {
  const std::string data = testsupport::NoisyBytes(3 * 1048576, 72);
  const std::string name = Publish(data, true);
  const std::wstring side = downloader::ValidatorPathFor(path_);
  ::DeleteFileW(side.c_str());
  std::string key = UniqueKey();
  // The meta whole, the file cut after 1.5 MiB, then nothing at all.
  EXPECT_EQ(Transfer(servers().FaultUrl("/drop/" + key + "/f?src=" + name + "&times=0&after=100000000,1572864,0"),
                     true),
            kFailure);
  EXPECT_EQ(testsupport::ReadWholeFile(side), "\"fixed-" + std::to_string(data.size()) + "\"");
  ::DeleteFileW(side.c_str());
}

}  // namespace
}  // namespace stubframework::workflow

namespace stubframework::workflow {
namespace {

// Names in `folder` other than "." and "..".
std::vector<std::wstring> EntriesOf(const std::wstring& folder) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW found;
  HANDLE find = ::FindFirstFileW((folder + L"\\*").c_str(), &found);
  if (find == INVALID_HANDLE_VALUE) return names;
  do {
    if (wcscmp(found.cFileName, L".") != 0 && wcscmp(found.cFileName, L"..") != 0) names.push_back(found.cFileName);
  } while (::FindNextFileW(find, &found));
  ::FindClose(find);
  return names;
}

bool IsLinkFolder(const std::wstring& path) {
  DWORD attributes = ::GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

// A folder on the way to the target that is a link leads every write
// elsewhere: both download paths refuse it once, before anything is created,
// and nothing appears where the link leads. A plain folder and the temporary
// folder (which the system itself may link) still take the download.
TEST_F(TransferDownloadErrorTest, ADownloadWhoseFolderIsALinkIsRefusedOnBothPaths) {
  const std::wstring folder = STUB_DOWNLOAD_LINK_DIR;
  if (!IsLinkFolder(folder + L"\\folder-link") || !IsLinkFolder(folder + L"\\up-link")) {
    GTEST_SKIP() << "no link fixture: this system shows no Unix symbolic link CMake made as a link";
  }
  const char* const kRefusedLine = "a folder on its way is a link; not retried";
  const std::string data = testsupport::NoisyBytes(200000, 53);
  const std::string name = Publish(data, true);
  const std::wstring stem = base::FromUtf8(UniqueKey());
  const char* const kVerifiedLine = "The target's folder is reached through a link; refused";
  const int verified_before = LinesWith(kVerifiedLine);
  struct Case {
    const wchar_t* target;  // under the fixture folder
    bool refused;
  };
  const Case cases[] = {
      {L"folder-link\\", true},          // the target's own folder
      {L"up-link\\deep\\", true},        // two levels up
      {L"up-link\\missing\\", true},     // judged at the deepest folder that exists
      {L"real\\", false},
  };
  for (bool verified : {true, false}) {
    for (const Case& c : cases) {
      const std::wstring target = folder + L"\\" + c.target + stem + (verified ? L"-v.bin" : L"-p.bin");
      SCOPED_TRACE(base::ToAnsi(target));
      const int refused_before = LinesWith(kRefusedLine);
      TransferRequest request{servers().NginxUrl("/" + name), target, false, verified};
      const int code = TransferDownloadError(host_, request, settings_);
      if (c.refused) {
        EXPECT_EQ(code, kFailure);
        EXPECT_EQ(LinesWith(kRefusedLine) - refused_before, 1) << "refused once, not retried";
      } else {
        EXPECT_EQ(code, kNoError);
        EXPECT_TRUE(testsupport::ReadWholeFile(target) == data);
        ::DeleteFileW(target.c_str());
      }
    }
  }
  EXPECT_EQ(LinesWith(kVerifiedLine) - verified_before, 3) << "the verified path says why";
  EXPECT_TRUE(EntriesOf(folder + L"\\elsewhere").empty()) << "nothing was written where the folder link leads";
  EXPECT_EQ(EntriesOf(folder + L"\\away"), std::vector<std::wstring>{L"deep"}) << "nothing was created through the link";
  EXPECT_TRUE(EntriesOf(folder + L"\\away\\deep").empty());

  // The temporary folder, as the system names it (Wine may link it, or a
  // user folder, to the Linux home).
  for (bool verified : {true, false}) {
    const std::wstring target = testsupport::TempFilePath(verified ? L"linkfree-v" : L"linkfree-p");
    TransferRequest request{servers().NginxUrl("/" + name), target, false, verified};
    EXPECT_EQ(TransferDownloadError(host_, request, settings_), kNoError);
    EXPECT_TRUE(testsupport::ReadWholeFile(target) == data);
    ::DeleteFileW(target.c_str());
  }
}

}  // namespace
}  // namespace stubframework::workflow
