// The download worker's transfer from several sources: the page's options
// parsed and refused, the transfer over mirrors with and without a release
// key, and the single-source path left as it was.
#include "workflow/several_sources_transfer.h"

#include <objbase.h>

#include <gtest/gtest.h>

#include <atomic>
#include <string>

#include "app/app_log.h"
#include "base/critical_section.h"
#include "base/property_bag.h"
#include "base/wide_format.h"
#include "downloader/block_plan.h"
#include "downloader/download_test_util.h"
#include "support/test_servers.h"
#include "trust/test_release_key.h"
#include "workflow/source_options.h"
#include "workflow/transfer_download_error.h"

namespace stubframework::workflow {
namespace {

using testsupport::UniqueKey;

TEST(SourceOptionsTest, ParsedOrRefusedWhole) {
  const std::wstring kPlain = L"http://a.example/f.msi";
  const std::wstring kSecure = L"https://a.example/f.msi";
  std::wstring eight_mirrors;
  for (int i = 1; i < static_cast<int>(downloader::kMaxDownloadMirrors); ++i) {
    eight_mirrors += base::Format(L"http://m%d.example/f.msi ", i);
  }
  struct Case {
    std::wstring url;
    std::wstring mirrors;
    std::wstring connections;
    bool accepted;
    size_t urls;
    int count;
  } cases[] = {
      {kPlain, L"", L"", true, 1, 1},
      {kPlain, L"", L"1", true, 1, 1},
      {kPlain, L"", L"4", true, 1, 4},
      {kPlain, L"", L"16", true, 1, 16},
      {kPlain, L"", L"17", false, 0, 0},    // over the maximum
      {kPlain, L"", L"0", false, 0, 0},
      {kPlain, L"", L"04", true, 1, 4},
      {kPlain, L"", L"100", false, 0, 0},
      {kPlain, L"", L"-1", false, 0, 0},
      {kPlain, L"", L"+2", false, 0, 0},
      {kPlain, L"", L"two", false, 0, 0},
      {kPlain, L"", L" 2", false, 0, 0},
      {kPlain, L"http://b.example/f.msi", L"", true, 2, 1},
      {kPlain, L" HTTPS://b.example/f.msi\r\n\thttp://c.example/f.msi ", L"3", true, 3, 3},
      {kPlain, L"ftp://b.example/f.msi", L"", false, 0, 0},
      {kPlain, L"file:///C:/f.msi", L"", false, 0, 0},
      {kPlain, L"\\\\server\\share\\f.msi", L"", false, 0, 0},
      {kPlain, L"http://", L"", false, 0, 0},
      {kPlain, L"http:///f.msi", L"", false, 0, 0},
      {kPlain, L"http://b.example/f\x01.msi", L"", false, 0, 0},
      {kPlain, kPlain, L"", false, 0, 0},  // the download's own URL again
      {kPlain, L"http://b.example/f http://b.example/f", L"", false, 0, 0},
      {kSecure, L"https://b.example/f.msi", L"", true, 2, 1},
      {kSecure, L"http://b.example/f.msi", L"", false, 0, 0},  // leaves TLS
      {kPlain, eight_mirrors, L"", true, downloader::kMaxDownloadMirrors, 1},
      {kPlain, eight_mirrors + L"http://m9.example/f.msi", L"", false, 0, 0},
      {kPlain, L"http://b.example/" + std::wstring(2100, L'x'), L"", false, 0, 0},
  };
  for (const Case& c : cases) {
    SourceOptions options;
    std::wstring problem;
    bool accepted = ParseSourceOptions(c.url, c.mirrors, c.connections, &options, &problem);
    EXPECT_EQ(accepted, c.accepted) << c.mirrors << " / " << c.connections;
    if (accepted) {
      ASSERT_EQ(options.urls.size(), c.urls) << c.mirrors;
      EXPECT_EQ(options.urls[0], c.url);
      EXPECT_EQ(options.connections, c.count);
    } else {
      EXPECT_FALSE(problem.empty());
    }
  }
}

TEST(SourceOptionsTest, OnlyOptionsThatAskForMoreLeaveTodaysPath) {
  EXPECT_FALSE(UsesSeveralSources(L"", L""));
  EXPECT_FALSE(UsesSeveralSources(L"  \r\n", L"1"));
  EXPECT_TRUE(UsesSeveralSources(L"", L"2"));
  EXPECT_TRUE(UsesSeveralSources(L"", L"x"));  // to be refused, not ignored
  EXPECT_TRUE(UsesSeveralSources(L"http://b.example/f", L""));
}

class SeveralSourcesTest : public testsupport::ServerTest {
 protected:
  void SetUp() override {
    ServerTest::SetUp();
    ASSERT_TRUE(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
    path_ = testsupport::TempFilePath(L"sources");
    host_.log = &log_;
    host_.properties = &properties_;
    host_.cancel_requested = [this] { return cancel_.load(); };
  }
  void TearDown() override {
    ::DeleteFileW(path_.c_str());
    ::DeleteFileW((path_ + L".meta").c_str());
    ::DeleteFileW((path_ + L".meta.sig").c_str());
    ::CoUninitialize();
  }
  std::string Publish(const std::string& data, const std::string& meta) {
    std::string name = UniqueKey() + ".bin";
    EXPECT_TRUE(servers().PutFile(name, data));
    EXPECT_TRUE(servers().PutFile(name + ".meta", meta));
    return name;
  }
  int Transfer(const std::wstring& url, const std::wstring& mirrors, const std::wstring& connections) {
    TransferRequest request{url, path_, false, true};
    request.mirrors = mirrors;
    request.connections = connections;
    TransferSettings settings;
    settings.retry_pause_ms = 10;
    return TransferDownloadError(host_, request, settings);
  }
  bool LogHas(const std::string& text) { return testsupport::ReadWholeFile(log_.path()).find(text) != std::string::npos; }

  app::AppLog log_;
  base::PropertyBag bag_;
  base::CriticalSection lock_;
  base::LockedProperties properties_{bag_, lock_};
  std::atomic<bool> cancel_{false};
  utils::DownloadHost host_;
  std::wstring path_;
};

TEST_F(SeveralSourcesTest, MirrorsAndConnectionsReachTheEngineFromTheRequest) {
  std::string data = testsupport::NoisyBytes(5 * 1048576 + 3, 71);
  std::string name = Publish(data, testsupport::MakeMeta(data));
  std::string key = UniqueKey();
  std::wstring flipping = servers().FaultUrl("/mirror/" + key + "/" + name + "?src=" + name + "&fault=flip&every=1");
  EXPECT_EQ(Transfer(flipping, servers().NginxUrl("/" + name), L"3"), kNoError);
  EXPECT_EQ(testsupport::ReadWholeFile(path_), data);
  EXPECT_EQ(properties_.GetDownloadCurrent(), static_cast<unsigned long>(data.size()));
  EXPECT_TRUE(LogHas("(2 mirrors, 3 connections)"));
  EXPECT_TRUE(LogHas("dropped for the rest of the run: a block did not verify"));
}

// The pages always set both properties; one connection and no mirror is the
// single request of today's engine, to the byte.
TEST_F(SeveralSourcesTest, OneConnectionAndNoMirrorIsTodaysSingleRequest) {
  std::string data = testsupport::NoisyBytes(3 * 1048576 + 5, 75);
  std::string name = Publish(data, testsupport::MakeMeta(data));
  EXPECT_EQ(Transfer(servers().NginxUrl("/" + name), L" ", L"1"), kNoError);
  EXPECT_EQ(testsupport::ReadWholeFile(path_), data);
  auto asked = servers().NginxRequests(name, 2);
  ASSERT_EQ(asked.size(), 2u);
  EXPECT_EQ(asked[0].target, "/" + name + ".meta");
  EXPECT_EQ(asked[1].range, "bytes=0-3145732");
  EXPECT_FALSE(LogHas("MultiSourceTask"));
  EXPECT_TRUE(LogHas("DownloadSimpleTask::Start"));
}

TEST_F(SeveralSourcesTest, MalformedOptionsRefuseTheDownloadBeforeAnyRequest) {
  std::string data = testsupport::NoisyBytes(1000, 73);
  std::string name = Publish(data, testsupport::MakeMeta(data));
  EXPECT_EQ(Transfer(servers().NginxUrl("/" + name), L"ftp://127.0.0.1/" + testsupport::Widen(name), L""),
            kFailure);
  EXPECT_EQ(Transfer(servers().NginxUrl("/" + name), L"", L"99"), kFailure);
  EXPECT_TRUE(LogHas("a mirror is not an http or https URL"));
  EXPECT_TRUE(LogHas("the connection count is not a number"));
  ::Sleep(200);
  EXPECT_TRUE(servers().NginxRequests(name, 0, 200).empty());
  EXPECT_EQ(testsupport::FileSizeOf(path_), -1);
}

// With a release key the .meta is asked once per run, single source or
// several: the bytes whose signature was checked are the bytes the blocks are
// proven against, so the engine asks for no .meta of its own.
TEST_F(SeveralSourcesTest, WithAReleaseKeyTheMetaIsAskedOnceThenItsSignatureThenTheFile) {
  testsupport::TestReleaseKey release;
  host_.release_key = release.key();
  std::string data = testsupport::NoisyBytes(2 * 1048576 + 13, 81);
  std::string meta = testsupport::MakeMeta(data);
  const struct {
    const char* what;
    bool mirror;
    const wchar_t* connections;
  } kCases[] = {{"a single source", false, L"1"}, {"several connections", false, L"2"}, {"a mirror", true, L"2"}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    ::DeleteFileW(path_.c_str());
    std::string name = Publish(data, meta);
    ASSERT_TRUE(servers().PutFile(name + ".meta.sig", release.Sign(meta)));
    // The mirror is the same file under another name, whose .meta and
    // signature are there to be asked for, and must not be.
    const std::string copy = c.mirror ? Publish(data, meta) : std::string("-");
    if (c.mirror) ASSERT_TRUE(servers().PutFile(copy + ".meta.sig", release.Sign(meta)));
    const std::wstring mirrors = c.mirror ? servers().NginxUrl("/" + copy) : std::wstring();
    EXPECT_EQ(Transfer(servers().NginxUrl("/" + name), mirrors, c.connections), kNoError);
    EXPECT_EQ(testsupport::ReadWholeFile(path_), data);
    auto asked = servers().NginxRequests(name, 4, 1000);
    ASSERT_GE(asked.size(), 3u);
    EXPECT_EQ(asked[0].target, "/" + name + ".meta");
    EXPECT_EQ(asked[1].target, "/" + name + ".meta.sig");
    for (size_t i = 2; i < asked.size(); ++i) EXPECT_EQ(asked[i].target, "/" + name) << "request " << i;
    if (c.mirror) {
      auto from_mirror = servers().NginxRequests(copy, 0, 1000);
      for (const auto& r : from_mirror) EXPECT_EQ(r.target, "/" + copy);
    }
  }
}

TEST_F(SeveralSourcesTest, WithAReleaseKeyTheMetaOfTheFirstMirrorThatAnswersMustBeSigned) {
  testsupport::TestReleaseKey release;
  host_.release_key = release.key();
  std::string data = testsupport::NoisyBytes(3 * 1048576 + 11, 79);
  std::string meta = testsupport::MakeMeta(data);
  std::string name = Publish(data, meta);
  ASSERT_TRUE(servers().PutFile(name + ".meta.sig", release.Sign(meta)));
  // The first mirror has no .meta at all; the second one's is signed.
  std::string key = UniqueKey();
  std::wstring missing = servers().FaultUrl("/status/" + key + "/" + name + "?code=404");
  EXPECT_EQ(Transfer(missing, servers().NginxUrl("/" + name), L"2"), kNoError) << testsupport::ReadWholeFile(log_.path());
  EXPECT_EQ(testsupport::ReadWholeFile(path_), data);
  EXPECT_EQ(testsupport::ReadWholeFile(path_ + L".meta"), meta);
  EXPECT_EQ(servers().NginxRequests(name + ".meta.sig", 1).size(), 1u);

  // A signature that does not verify refuses the download, whatever the
  // other mirrors hold.
  ::DeleteFileW(path_.c_str());
  std::string other = Publish(data, meta);
  ASSERT_TRUE(servers().PutFile(other + ".meta.sig", release.Sign(meta + "x")));
  EXPECT_EQ(Transfer(servers().NginxUrl("/" + other), servers().NginxUrl("/" + name), L"2"), kFailure);
  // nginx writes its log line after the answer: wait long enough for a third
  // request to show, were there one.
  EXPECT_EQ(servers().NginxRequests(other, 3, 1000).size(), 2u) << "its .meta and signature only";
  EXPECT_NE(testsupport::ReadWholeFile(path_), data);
}

}  // namespace
}  // namespace stubframework::workflow
