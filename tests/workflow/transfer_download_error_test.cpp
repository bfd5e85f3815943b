// TransferDownloadError against the test servers, with a short retry pause:
// retries, the attempt budget of plain downloads, tokenizing, and the
// connection check after failures.
#include "workflow/transfer_download_error.h"

#include <winsock2.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "app/app_log.h"
#include "base/critical_section.h"
#include "base/property_bag.h"
#include "base/wide_format.h"
#include "downloader/download_test_util.h"
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

class TransferTest : public testsupport::ServerTest {
 protected:
  void SetUp() override {
    ServerTest::SetUp();
    ASSERT_TRUE(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
    path_ = enginetest::TempFilePath(L"transfer");
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
  std::string Publish(const std::string& data, bool with_meta) {
    std::string name = UniqueKey() + ".bin";
    EXPECT_TRUE(servers().PutFile(name, data));
    if (with_meta) {
      EXPECT_TRUE(servers().PutFile(name + ".meta", enginetest::MakeMeta(data)));
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

TEST_F(TransferTest, PlainDownloadIsRetriedBeyondTenAttemptsWhileEachOneGetsFurther) {
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

TEST_F(TransferTest, PlainDownloadThatAlwaysBreaksOffAtTheSamePlaceEndsAfterTenMoreAttempts) {
  std::string key = UniqueKey();
  int code = Transfer(servers().FaultUrl("/drop/" + key + "?size=5000&after=1000&times=0"), false);
  EXPECT_EQ(code, kFailure);
  // The first attempt got further than none before it; the next ten did not.
  EXPECT_EQ(servers().FaultRequests(key).size(), 11u);
}

TEST_F(TransferTest, PlainDownloadStopsAfterTenAttemptsInARowWithoutData) {
  std::string key = UniqueKey();
  int code = Transfer(servers().FaultUrl("/drop/" + key + "?size=5000&after=0&times=0"), false);
  EXPECT_EQ(code, kFailure) << "the server is up: no NoNetwork";
  EXPECT_EQ(servers().FaultRequests(key).size(), 10u);
}

TEST_F(TransferTest, VerifiedDownloadGivesUpAfterTenFailedAttempts) {
  std::string name = Publish(testsupport::NoisyBytes(100000, 5), false);  // no meta file: every attempt fails
  int code = Transfer(servers().NginxUrl("/" + name), true);
  EXPECT_EQ(code, kFailure);
  EXPECT_EQ(servers().NginxRequests(name + ".meta", 10).size(), 10u);
  EXPECT_EQ(AttemptsLogged(static_cast<HRESULT>(0x800C0008)), 10);
}

TEST_F(TransferTest, VerifiedDownloadSucceedsWithoutRetry) {
  std::string data = testsupport::NoisyBytes(1500000, 7);
  std::string name = Publish(data, true);
  EXPECT_EQ(Transfer(servers().NginxUrl("/" + name), true), kNoError);
  EXPECT_EQ(testsupport::ReadWholeFile(path_), data);
  EXPECT_EQ(AttemptsLogged(S_OK), 1);
  EXPECT_EQ(properties_.GetDownloadCurrent(), 1500000);
}

TEST_F(TransferTest, FailuresAgainstADeadServerAreNoNetwork) {
  std::wstring url = base::Format(L"http://127.0.0.1:%d/x.bin", DeadPort());
  EXPECT_EQ(Transfer(url, true), kNoNetwork);
  EXPECT_EQ(AttemptsLogged(static_cast<HRESULT>(0x800C0008)), 10);
  EXPECT_FALSE(CanConnect(url));
  EXPECT_TRUE(CanConnect(servers().NginxUrl("/")));
}

TEST_F(TransferTest, SecureDownloadTokenizesTheFileAndItsMetaSeparately) {
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

TEST_F(TransferTest, WithoutSecureNothingIsTokenized) {
  std::string name = Publish(testsupport::NoisyBytes(1000, 3), true);
  bool asked = false;
  settings_.tokenize = [&asked](std::wstring&) { return asked = true; };
  EXPECT_EQ(Transfer(servers().NginxUrl("/" + name), true, false), kNoError);
  EXPECT_FALSE(asked);
}

// A stop request between failing attempts ends the retries with Abort instead
// of running out the attempts and reporting a failure the user did not see.
TEST_F(TransferTest, AStopRequestEndsFailingRetriesWithAbort) {
  std::string name = Publish(testsupport::NoisyBytes(1000, 4), false);
  cancel_ = true;
  EXPECT_EQ(Transfer(servers().NginxUrl("/" + name), true), kAbort);
  EXPECT_EQ(servers().NginxRequests(name + ".meta", 1).size(), 1u);
  std::string key = UniqueKey();
  EXPECT_EQ(Transfer(servers().FaultUrl("/drop/" + key + "?size=5000&after=0&times=0"), false), kAbort);
  EXPECT_LE(servers().FaultRequests(key).size(), 1u) << "no attempt after the stop";
}

// The file changed on the server after its meta was read: the attempt that
// holds the old meta gives up after three fruitless downloads, and the next
// one reads the new meta and proves the file already on disk.
TEST_F(TransferTest, AFileReplacedAfterItsMetaWasReadIsTakenByTheNextAttempt) {
  std::string old_data = testsupport::NoisyBytes(4 * 1048576, 61);
  std::string data = old_data;
  data[2 * 1048576 + 77] ^= 0x33;  // the new release differs in block 2
  std::string old_name = Publish(old_data, true);
  std::string name = Publish(data, true);
  std::string key = UniqueKey();
  // The meta URL is this one with ".meta" appended, so its src is name.meta.
  int code = Transfer(servers().FaultUrl("/swap/" + key + "?old=" + old_name + ".meta&src=" + name), true);
  EXPECT_EQ(code, kNoError);
  EXPECT_EQ(testsupport::ReadWholeFile(path_), data);
  EXPECT_EQ(AttemptsLogged(static_cast<HRESULT>(0x800C0008)), 1);
  EXPECT_EQ(AttemptsLogged(S_OK), 1);
  std::vector<std::string> asked;
  for (const auto& r : servers().FaultRequests(key)) {
    bool meta = r.target.size() > 5 && r.target.compare(r.target.size() - 5, 5, ".meta") == 0;
    asked.push_back(meta ? "meta " + r.note : r.range);
  }
  const std::string from2 = "bytes=2097152-4194303";
  EXPECT_EQ(asked, (std::vector<std::string>{"meta old 200", "bytes=0-4194303", from2, from2, from2, "meta 200"}))
      << "the second attempt resumes from the disk and needs nothing more";
}

TEST_F(TransferTest, AMetaAnnouncingMoreThanTheDiskHoldsIsDiskFullWithoutRetry) {
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
