// Block-verified downloads end to end against faults: the download resumes
// after its process is killed and never ends a corrupted transfer as success.
// The seeded campaign over every fault kind and both paths is tests/campaign.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "base/unique_handle.h"
#include "../downloader/download_test_util.h"
#include "support/test_servers.h"
#include "utils/download_file_verified.h"
#include "utils_test_util.h"

namespace {

using stubframework::base::UniqueHandle;
using testsupport::NoisyBytes;
using testsupport::UniqueKey;

constexpr long long kMiB = 1048576;

std::wstring ChildPath() {
  wchar_t self[MAX_PATH];
  ::GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring path(self);
  return path.substr(0, path.find_last_of(L'\\') + 1) + L"verified_download_child.exe";
}

long long ReadSidecar(const std::wstring& path) {
  std::string bytes = testsupport::ReadWholeFile(path);
  if (bytes.size() < 8) return 0;
  long long value = 0;
  memcpy(&value, bytes.data(), 8);
  return value;
}

// The first byte of a recorded "bytes=A-B" range; -1 when there is none.
long long RangeStart(const std::string& range) {
  if (range.rfind("bytes=", 0) != 0) return -1;
  return atoll(range.c_str() + 6);
}

class DownloadIntegrityTest : public testsupport::ServerTest {
 protected:
  void SetUp() override {
    ServerTest::SetUp();
    if (HasFatalFailure()) return;
    dest_ = testsupport::TempFilePath(L"integrity");
    sidecar_ = dest_ + L".progress";
  }
  void TearDown() override {
    ::DeleteFileW(dest_.c_str());
    ::DeleteFileW(sidecar_.c_str());
  }

  // Starts the child downloading url into dest_; null handle on failure.
  UniqueHandle StartChild(const std::wstring& url, const std::wstring& meta_url) {
    std::wstring command = L"\"" + ChildPath() + L"\" \"" + url + L"\" \"" + meta_url + L"\" \"" + dest_ + L"\" \"" +
                           sidecar_ + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!::CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
      return UniqueHandle();
    }
    ::CloseHandle(process.hThread);
    return UniqueHandle(process.hProcess);
  }

  std::wstring dest_;
  std::wstring sidecar_;
};

TEST_F(DownloadIntegrityTest, ResumeSurvivesTheProcessBeingKilled) {
  const long long size = 64 * kMiB;
  std::string data = NoisyBytes(static_cast<size_t>(size), 53);
  std::string name = UniqueKey() + ".bin";
  ASSERT_TRUE(servers().PutFile(name, data));
  ASSERT_TRUE(servers().PutFile(name + ".meta", testsupport::MakeMeta(data)));
  std::wstring meta_url = servers().NginxUrl("/" + name + ".meta");
  std::mt19937 random(::GetTickCount());

  // A paced server (about 12 MiB/s: 64 MiB take over 5 s) so that three kills,
  // each at most 1.2 s into a run, land inside the transfer.
  auto url_for_run = [&](int run, std::string* key) {
    *key = UniqueKey() + "-run" + std::to_string(run);
    return servers().FaultUrl("/slow/" + *key + "?src=" + name + "&chunk=131072&ms=10");
  };

  long long last_reported = 0;
  int kills = 0;
  int run = 0;
  for (; run < 6; ++run) {
    std::string key;
    UniqueHandle child = StartChild(url_for_run(run, &key), meta_url);
    ASSERT_TRUE(child.IsValid()) << "cannot start " << ChildPath().size();
    DWORD delay = 300 + random() % 900;
    if (::WaitForSingleObject(child.Get(), delay) == WAIT_OBJECT_0) break;  // finished first
    ASSERT_TRUE(::TerminateProcess(child.Get(), 99));
    ::WaitForSingleObject(child.Get(), INFINITE);
    ++kills;

    // What this run asked for: from the first block the previous one had not
    // finished writing, never earlier.
    auto asked = servers().FaultRequests(key);
    if (run > 0 && !asked.empty()) {
      long long start = RangeStart(asked[0].range);
      EXPECT_GE(start, last_reported - (last_reported % kMiB))
          << "run " << run << " fetched again bytes the previous run had written";
      EXPECT_LE(size - start, size - last_reported + kMiB) << "run " << run;
    }
    long long reported = ReadSidecar(sidecar_);
    if (reported > last_reported) last_reported = reported;
    printf("run %d killed after %lu ms at %lld bytes\n", run, delay, reported);
  }

  // The last run completes and fetches only what was still missing.
  std::string key;
  UniqueHandle child = StartChild(url_for_run(100, &key), meta_url);
  ASSERT_TRUE(child.IsValid());
  ASSERT_EQ(::WaitForSingleObject(child.Get(), 120000), WAIT_OBJECT_0);
  DWORD code = 1;
  ::GetExitCodeProcess(child.Get(), &code);
  EXPECT_EQ(code, 0u);
  auto asked = servers().FaultRequests(key);
  if (!asked.empty()) {
    long long start = RangeStart(asked[0].range);
    EXPECT_LE(size - start, size - last_reported + kMiB);
  }
  EXPECT_GE(kills, 3) << "the download finished before it could be killed often enough";
  std::string result = testsupport::ReadWholeFile(dest_);
  EXPECT_EQ(result.size(), data.size());
  EXPECT_TRUE(result == data) << "the final file differs from the source";
}

TEST_F(DownloadIntegrityTest, CorruptionOnTheWireIsNeverReportedAsSuccess) {
  constexpr int kRuns = 50;
  std::string data = NoisyBytes(static_cast<size_t>(3 * kMiB + 777), 59);
  std::string name = UniqueKey() + ".bin";
  ASSERT_TRUE(servers().PutFile(name, data));
  ASSERT_TRUE(servers().PutFile(name + ".meta", testsupport::MakeMeta(data)));
  int successes = 0;
  int failures = 0;
  int flipped_responses = 0;
  for (int i = 0; i < kRuns; ++i) {
    testsupport::TestHost host;
    std::string key = UniqueKey();
    std::wstring url = servers().FaultUrl("/randflip/" + key + "?src=" + name + "&p=0.5");
    // Every fifth run also gets a damaged meta now and then.
    std::wstring meta_url = i % 5 == 4
                                ? servers().FaultUrl("/randflip/" + key + "-meta?src=" + name + ".meta&p=0.5")
                                : servers().NginxUrl("/" + name + ".meta");
    if (i % 2 == 1) ::DeleteFileW(dest_.c_str());  // half start fresh, half resume what is there
    std::atomic<bool> done{false};
    std::thread watchdog([&] {
      for (int waited = 0; waited < 5000 && !done; waited += 10) ::Sleep(10);
      host.cancel = true;  // a damaged meta can make the download loop forever
    });
    HRESULT hr = stubframework::utils::DownloadFileVerified(host.host(), url, meta_url, dest_);
    done = true;
    watchdog.join();
    for (auto& r : servers().FaultRequests(key)) {
      if (r.note.find("flipped") != std::string::npos) ++flipped_responses;
    }
    if (hr == S_OK) {
      ++successes;
      ASSERT_TRUE(testsupport::ReadWholeFile(dest_) == data) << "run " << i << " reported success with a different file";
    } else {
      ++failures;
      EXPECT_LT(hr, 0) << "run " << i;
    }
  }
  printf("%d runs: %d succeeded with identical files, %d failed; %d responses were corrupted\n", kRuns, successes,
         failures, flipped_responses);
  // Each response is flipped with probability one half, and a run fetches
  // until a clean answer (about one flip per run that fetches, with a wide
  // spread): the bound proves corruption reached the client, not a median.
  EXPECT_GE(flipped_responses, kRuns / 10);
  EXPECT_GT(successes, kRuns / 2);
}

}  // namespace
