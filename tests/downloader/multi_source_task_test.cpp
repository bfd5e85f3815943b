// MultiSourceTask against nginx and the fault server's mirrors: several
// connections, mirrors that misbehave, a stop, and resume after a stop.
#include "downloader/multi_source_task.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "base/unique_handle.h"
#include "downloader/block_plan.h"
#include "downloader/result_codes.h"
#include "download_test_util.h"
#include "support/test_servers.h"

namespace downloader = stubframework::downloader;

namespace {

using downloader::int64;
using testsupport::DownloadRecorder;
using testsupport::Make;
using testsupport::MakeMeta;
using testsupport::RecordingLogger;
using testsupport::Widen;
using testsupport::NoisyBytes;
using testsupport::UniqueKey;

constexpr int64 kMiB = 1048576;

class MultiSourceTaskTest : public testsupport::ServerTest {
 protected:
  void SetUp() override {
    ServerTest::SetUp();
    dest_ = testsupport::TempFilePath(L"multi");
  }
  void TearDown() override { ::DeleteFileW(dest_.c_str()); }

  // Publishes `data` and its meta; returns the name.
  std::string Publish(const std::string& data) {
    std::string name = UniqueKey() + ".bin";
    EXPECT_TRUE(servers().PutFile(name, data));
    EXPECT_TRUE(servers().PutFile(name + ".meta", MakeMeta(data)));
    return name;
  }

  // A fault-server mirror of `name` with the given query (fault=...); its key
  // is `key`, so its requests can be told apart.
  std::string Mirror(const std::string& key, const std::string& name, const std::string& query = "") {
    return "/mirror/" + key + "/" + name + "?src=" + name + (query.empty() ? "" : "&" + query);
  }
  void AddFault(const std::string& path) {
    request_.urls.push_back(servers().FaultUrl(path));
    size_t query = path.find('?');
    request_.meta_urls.push_back(servers().FaultUrl(path.substr(0, query) + ".meta" + path.substr(query)));
  }
  void AddNginx(const std::string& name) {
    request_.urls.push_back(servers().NginxUrl("/" + name));
    request_.meta_urls.push_back(servers().NginxUrl("/" + name + ".meta"));
  }

  // Runs the request to its end with fresh recorders; the result.
  long Run(std::function<bool(int64, int64)> cancel_when = nullptr) {
    logger_ = Make<RecordingLogger>();
    recorder_ = Make<DownloadRecorder>();
    request_.path = dest_;
    downloader::ITask* task = downloader::CreateMultiSourceTask(request_, recorder_.get(), logger_.get());
    EXPECT_NE(task, nullptr);
    if (task == nullptr) return 1;
    recorder_->task_ = task;
    recorder_->cancel_when_ = cancel_when;
    task->Start();
    EXPECT_TRUE(recorder_->Wait(120000)) << "no OnComplete";
    recorder_->task_ = nullptr;
    task->Release();
    ::Sleep(20);
    EXPECT_EQ(recorder_->completions(), 1);
    return recorder_->result();
  }

  // Progress only climbs, by whole blocks (the short last one among them, in
  // any order), to at most the total.
  void ExpectProgressClimbs(int64 total) {
    int64 last = 0;
    for (const auto& p : recorder_->progress()) {
      EXPECT_EQ(p.second, total);
      EXPECT_GE(p.first, last);
      EXPECT_LE(p.first, total);
      EXPECT_TRUE(p.first % kMiB == 0 || p.first % kMiB == total % kMiB) << p.first;
      last = p.first;
    }
  }

  std::wstring dest_;
  downloader::MultiSourceRequest request_;
  testsupport::Ref<testsupport::Object<RecordingLogger>> logger_;
  testsupport::Ref<testsupport::Object<DownloadRecorder>> recorder_;
};

TEST_F(MultiSourceTaskTest, FourConnectionsToOneServerFetchEveryBlockOnce) {
  std::string data = NoisyBytes(9 * kMiB + 4321, 31);
  std::string name = Publish(data);
  AddNginx(name);
  request_.connections = 4;
  ASSERT_EQ(Run(), 0) << logger_->Dump();
  EXPECT_EQ(testsupport::ReadWholeFile(dest_), data);
  ExpectProgressClimbs(static_cast<int64>(data.size()));
  EXPECT_EQ(recorder_->progress().back().first, static_cast<int64>(data.size()));

  // The meta once, then ranged requests that cover the file; two ask for
  // the same block only when the log says the block moved from one
  // connection's run to another's (a steal at the tail) or, the last one,
  // was asked of a second connection too.
  auto asked = servers().NginxRequests(name, 5);
  ASSERT_GE(asked.size(), 5u);
  EXPECT_EQ(asked[0].target, "/" + name + ".meta");
  std::vector<int> asked_for(10, 0);
  std::set<std::pair<long long, long long>> ranges;
  size_t longest = 0;
  for (size_t i = 1; i < asked.size(); ++i) {
    long long a = -1, b = -1;
    ASSERT_EQ(sscanf(asked[i].range.c_str(), "bytes=%lld-%lld", &a, &b), 2) << asked[i].range;
    ranges.insert({a, b});
    EXPECT_EQ(a % kMiB, 0);
    EXPECT_TRUE((b + 1) % kMiB == 0 || b + 1 == static_cast<long long>(data.size())) << b;
    for (long long k = a / kMiB; k <= b / kMiB; ++k) ++asked_for[static_cast<size_t>(k)];
    longest = std::max(longest, static_cast<size_t>(b + 1 - a));
  }
  std::vector<int> moved(10, 0);
  for (const auto& line : logger_->Lines()) {
    unsigned first = 0, last = 0;
    size_t at = line.find(L"> Block");
    if (at == std::wstring::npos) continue;
    if (swscanf(line.c_str() + at, L"> Blocks %u-%u move", &first, &last) == 2 ||
        (swscanf(line.c_str() + at, L"> Block %u, the last", &first) == 1 && (last = first, true))) {
      for (unsigned k = first; k <= last && k < 10; ++k) ++moved[k];
    }
  }
  for (size_t k = 0; k < 10; ++k) {
    EXPECT_GE(asked_for[k], 1) << k;
    EXPECT_LE(asked_for[k], 1 + moved[k]) << k;
  }
  // 10 blocks over 4 connections: no run longer than a quarter, rounded up,
  // and the four started together take 3, 3, 3 and the last one.
  EXPECT_LE(longest, static_cast<size_t>(3 * kMiB));
  const long long end = static_cast<long long>(data.size()) - 1;
  for (auto first : {std::make_pair(0LL, 3 * kMiB - 1), std::make_pair(3 * kMiB, 6 * kMiB - 1),
                     std::make_pair(6 * kMiB, 9 * kMiB - 1), std::make_pair(9 * kMiB, end)}) {
    EXPECT_EQ(ranges.count(first), 1u) << first.first << "-" << first.second;
  }
}

// A run longer than one request may ask for takes several requests in turn:
// they ride the one TCP connection the first opened, not one each.
TEST_F(MultiSourceTaskTest, RunsInTurnReuseTheConnectionTheFirstOpened) {
  std::string data = NoisyBytes((downloader::kMaxRunBlocks + 1) * kMiB + 5, 73);
  std::string name = Publish(data);
  AddNginx(name);
  request_.connections = 1;
  ASSERT_EQ(Run(), 0) << logger_->Dump();
  EXPECT_EQ(testsupport::ReadWholeFile(dest_), data);
  std::set<std::string> sockets;
  size_t blocks_asked = 0;
  for (const auto& r : servers().NginxRequests(name, 3)) {
    if (r.range.empty()) continue;  // the meta
    ++blocks_asked;
    sockets.insert(r.connection);
  }
  EXPECT_EQ(blocks_asked, 2u);
  EXPECT_EQ(sockets.size(), 1u);
  EXPECT_FALSE(sockets.begin()->empty()) << "the server records no connection";
}

// Two connections, one to a slow mirror: the fast one, its own run done,
// takes the later half of the slow one's run, again and again, and at last
// asks for the very block the slow one is still receiving; the first to
// prove it wins and the download ends without waiting for the other.
TEST_F(MultiSourceTaskTest, TheTailOfASlowMirrorsRunIsFinishedByAnother) {
  std::string data = NoisyBytes(9 * kMiB - 3, 71);
  std::string name = Publish(data);
  AddFault(Mirror(UniqueKey(), name, "chunk=16384&ms=50"));  // about 320 KB/s: 3.2 s a block
  AddNginx(name);
  request_.connections = 2;
  DWORD begun = ::GetTickCount();
  ASSERT_EQ(Run(), 0) << logger_->Dump();
  DWORD took = ::GetTickCount() - begun;
  EXPECT_EQ(testsupport::ReadWholeFile(dest_), data);
  ExpectProgressClimbs(static_cast<int64>(data.size()));
  EXPECT_EQ(recorder_->progress().back().first, static_cast<int64>(data.size()));
  // The slow mirror's run was blocks 0-4; the fast one took all of 5-8, then
  // 3-4, 2 and 1 in turn, then a copy of block 0.
  const std::wstring fast = request_.urls[1];
  EXPECT_GE(logger_->CountContaining(L" move from " + request_.urls[0] + L" to " + fast + L"."), 2u)
      << logger_->Dump();
  EXPECT_EQ(logger_->CountContaining(L"Block 0, the last, is asked of " + fast + L" too."), 1u) << logger_->Dump();
  // Requests closed early because their blocks moved, or because the copy
  // won, are no failure of the slow mirror.
  EXPECT_EQ(logger_->CountContaining(L"dropped for the rest of the run"), 0u) << logger_->Dump();
  EXPECT_EQ(logger_->CountContaining(L"broke off"), 0u) << logger_->Dump();
  std::vector<int> asked(9, 0);
  for (const auto& r : servers().NginxRequests(name, 5)) {
    long long a = -1, b = -1;
    if (sscanf(r.range.c_str(), "bytes=%lld-%lld", &a, &b) != 2) continue;
    for (long long k = a / kMiB; k <= b / kMiB && k < 9; ++k) ++asked[static_cast<size_t>(k)];
  }
  // Every block asked of the fast mirror, none twice.
  for (size_t k = 0; k < 9; ++k) EXPECT_EQ(asked[k], 1) << k;
  // Not held up by the slow mirror's block 0.
  EXPECT_LT(took, 3000u);
}

// A server that caps each connection: four connections take about a quarter
// of the time one does (measured side by side, so the machine's load cancels).
TEST_F(MultiSourceTaskTest, FourConnectionsToARateCappedServerAreFasterThanOne) {
  std::string data = NoisyBytes(8 * kMiB, 33);
  std::string name = Publish(data);
  DWORD took[2] = {};
  const int connections[2] = {1, 4};
  for (int i = 0; i < 2; ++i) {
    ::DeleteFileW(dest_.c_str());
    request_ = downloader::MultiSourceRequest();
    AddFault(Mirror(UniqueKey(), name, "chunk=65536&ms=20"));
    request_.connections = connections[i];
    DWORD begun = ::GetTickCount();
    ASSERT_EQ(Run(), 0) << logger_->Dump();
    took[i] = ::GetTickCount() - begun;
    EXPECT_EQ(testsupport::ReadWholeFile(dest_), data);
  }
  EXPECT_LT(took[1] * 10, took[0] * 6) << took[1] << " ms with 4, " << took[0] << " ms with 1";
}

// One mirror misbehaves in one way; the clean one after it serves its blocks.
TEST_F(MultiSourceTaskTest, AMisbehavingMirrorIsDroppedOnceAndTheOthersServeItsBlocks) {
  struct Case {
    const char* query;
    const wchar_t* reason;
  } cases[] = {
      {"fault=flip&every=1", L"a block did not verify"},
      {"fault=status&code=404", L"an error answer"},
      {"fault=status&code=500", L"an error answer"},
      {"fault=etag", L"its ETag changed"},
      {"fault=cut&after=300000", L"its answers broke off too often"},
  };
  std::string data = NoisyBytes(12 * kMiB + 99, 37);
  std::string name = Publish(data);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.query);
    ::DeleteFileW(dest_.c_str());
    request_ = downloader::MultiSourceRequest();
    std::string key = UniqueKey();
    AddFault(Mirror(key, name, c.query));
    AddFault(Mirror(key + "-clean", name));
    request_.connections = 4;
    ASSERT_EQ(Run(), 0) << logger_->Dump();
    EXPECT_EQ(testsupport::ReadWholeFile(dest_), data);
    ExpectProgressClimbs(static_cast<int64>(data.size()));
    std::wstring drop = L"MultiSourceTask::DropMirror> Mirror " + request_.urls[0] +
                        L" dropped for the rest of the run: " + c.reason + L".";
    EXPECT_EQ(logger_->CountContaining(L"dropped for the rest of the run"), 1u) << logger_->Dump();
    EXPECT_TRUE(logger_->Has(drop)) << logger_->Dump();
    // Nothing is asked of a dropped mirror: its requests stop at the drop.
    size_t bad = 0;
    for (auto& r : servers().FaultRequests("/mirror/" + key + "/")) bad += r.target.find(".meta") == std::string::npos;
    EXPECT_LE(bad, static_cast<size_t>(request_.connections + downloader::kMaxCutsInARow)) << c.query;
  }
}

// Beside a clean mirror a stalled one holds nothing up: the clean one takes
// its blocks (the last as a copy) long before the receive timeout. Alone it
// is dropped when the timeout ends its request, and the download fails with
// the request's timeout.
TEST_F(MultiSourceTaskTest, AStalledMirrorHoldsNothingUpAndAloneIsDroppedAfterTheReceiveTimeout) {
  std::string data = NoisyBytes(4 * kMiB, 41);
  std::string name = Publish(data);
  std::string key = UniqueKey();
  const std::string stalled = Mirror(key, name, "fault=stall&after=1000&ms=45000");
  AddFault(stalled);
  AddFault(Mirror(key + "-clean", name));
  request_.connections = 2;
  DWORD begun = ::GetTickCount();
  ASSERT_EQ(Run(), 0) << logger_->Dump();
  EXPECT_LT(::GetTickCount() - begun, 15000u);
  EXPECT_EQ(testsupport::ReadWholeFile(dest_), data);

  ::DeleteFileW(dest_.c_str());
  request_ = downloader::MultiSourceRequest();
  AddFault(stalled);
  request_.connections = 2;
  long result = Run();
  EXPECT_EQ(downloader::FailureReason(result), downloader::DropReason::kStalled) << logger_->Dump();
  EXPECT_TRUE(logger_->Has(L"MultiSourceTask::DropMirror> Mirror " + request_.urls[0] +
                           L" dropped for the rest of the run: it stalled past the receive timeout."))
      << logger_->Dump();
}

// When no mirror is left the download fails with the code of why.
TEST_F(MultiSourceTaskTest, EveryMirrorDroppedEndsWithTheReasonsCode) {
  struct Case {
    const char* first;
    const char* second;
    long result;
  } cases[] = {
      {"fault=flip&every=3", "fault=flip&every=2", downloader::kResultBlockUnverifiable},
      {"fault=status&code=404", "fault=status&code=403", downloader::kResultBadFormat},
      {"fault=flip&every=1", "fault=status&code=404", downloader::kResultBadFormat},
  };
  std::string data = NoisyBytes(6 * kMiB, 43);
  std::string name = Publish(data);
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.first) + " " + c.second);
    ::DeleteFileW(dest_.c_str());
    request_ = downloader::MultiSourceRequest();
    std::string key = UniqueKey();
    AddFault(Mirror(key + "a", name, c.first));
    AddFault(Mirror(key + "b", name, c.second));
    request_.connections = 3;
    EXPECT_EQ(Run(), c.result) << logger_->Dump();
    EXPECT_EQ(logger_->CountContaining(L"dropped for the rest of the run"), 2u) << logger_->Dump();
    EXPECT_EQ(testsupport::FileSizeOf(dest_), static_cast<long long>(data.size()));
  }
}

TEST_F(MultiSourceTaskTest, ABadBlockIsNeverWrittenOverWhatTheFileHeld) {
  std::string data = NoisyBytes(5 * kMiB, 47);
  std::string name = Publish(data);
  // Blocks 0 and 4 right; 1-3 hold something else the only mirror cannot mend.
  std::string held = data;
  std::fill(held.begin() + kMiB, held.begin() + 4 * kMiB, 'G');
  ASSERT_TRUE(testsupport::WriteWholeFile(dest_, held));
  std::string key = UniqueKey();
  AddFault(Mirror(key, name, "fault=flip&every=1"));
  request_.connections = 3;
  EXPECT_EQ(Run(), downloader::kResultBlockUnverifiable) << logger_->Dump();
  EXPECT_TRUE(logger_->Has(L"MultiSourceTask::OnHashComplete> Existing file holds 2 of 5 blocks verified."))
      << logger_->Dump();
  EXPECT_EQ(testsupport::ReadWholeFile(dest_), held);
}

TEST_F(MultiSourceTaskTest, TheMetaComesFromTheFirstMirrorThatAnswers) {
  std::string data = NoisyBytes(3 * kMiB + 5, 53);
  std::string name = Publish(data);
  std::string key = UniqueKey();
  request_.urls.push_back(servers().FaultUrl("/status/" + key + "/" + name + "?code=404"));
  request_.meta_urls.push_back(servers().FaultUrl("/status/" + key + "/" + name + ".meta?code=404"));
  AddNginx(name);
  request_.connections = 2;
  ASSERT_EQ(Run(), 0) << logger_->Dump();
  EXPECT_EQ(testsupport::ReadWholeFile(dest_), data);
  EXPECT_EQ(logger_->CountContaining(L"MultiSourceTask::OnMetaComplete> No meta from "), 1u) << logger_->Dump();
  auto asked = servers().NginxRequests(name + ".meta", 1);
  EXPECT_EQ(asked.size(), 1u);
}

TEST_F(MultiSourceTaskTest, AMetaGivenUpFrontIsUsedAndNoneIsFetched) {
  std::string data = NoisyBytes(2 * kMiB + 17, 59);
  std::string name = Publish(data);
  request_.urls.push_back(servers().NginxUrl("/" + name));
  request_.has_meta = true;
  request_.meta = MakeMeta(data);
  request_.connections = 2;
  ASSERT_EQ(Run(), 0) << logger_->Dump();
  EXPECT_EQ(testsupport::ReadWholeFile(dest_), data);
  ::Sleep(200);
  EXPECT_TRUE(servers().NginxRequests(name + ".meta", 0, 200).empty());

  // A meta that does not parse ends the task before any request.
  request_.meta = "short";
  EXPECT_EQ(Run(), downloader::kResultFail);
}

TEST_F(MultiSourceTaskTest, AnEmptyFileCompletesWithoutARequestForBlocks) {
  std::string name = Publish(std::string());
  AddNginx(name);
  request_.connections = 4;
  ASSERT_EQ(Run(), 0) << logger_->Dump();
  EXPECT_EQ(testsupport::FileSizeOf(dest_), 0);
  EXPECT_EQ(logger_->CountContaining(L"HttpTask::Start"), 1u) << "the meta only";
}

TEST_F(MultiSourceTaskTest, MalformedRequestsAreRefused) {
  auto recorder = Make<DownloadRecorder>();
  auto logger = Make<RecordingLogger>();
  auto refused = [&](const downloader::MultiSourceRequest& r) {
    downloader::ITask* task = downloader::CreateMultiSourceTask(r, recorder.get(), logger.get());
    if (task != nullptr) task->Release();
    return task == nullptr;
  };
  downloader::MultiSourceRequest good;
  good.urls = {L"http://127.0.0.1/a"};
  good.meta_urls = {L"http://127.0.0.1/a.meta"};
  good.path = dest_;
  EXPECT_FALSE(refused(good));
  auto r = good;
  r.connections = 0;
  EXPECT_TRUE(refused(r));
  r.connections = downloader::kMaxDownloadConnections;
  EXPECT_FALSE(refused(r));
  r.connections = downloader::kMaxDownloadConnections + 1;
  EXPECT_TRUE(refused(r));
  r = good;
  r.meta_urls.clear();
  EXPECT_TRUE(refused(r));
  r.has_meta = true;
  EXPECT_FALSE(refused(r));
  r = good;
  r.urls.clear();
  r.meta_urls.clear();
  EXPECT_TRUE(refused(r));
  r = good;
  r.urls.assign(downloader::kMaxDownloadMirrors + 1, L"http://127.0.0.1/a");
  r.meta_urls.assign(downloader::kMaxDownloadMirrors + 1, L"http://127.0.0.1/a.meta");
  EXPECT_TRUE(refused(r));
  r = good;
  r.path.clear();
  EXPECT_TRUE(refused(r));
}

TEST_F(MultiSourceTaskTest, AStopLandsPromptlyAndLeavesTheFileAtFullSize) {
  std::string data = NoisyBytes(16 * kMiB, 61);
  std::string name = Publish(data);
  std::string key = UniqueKey();
  AddFault(Mirror(key, name, "chunk=65536&ms=20"));
  AddFault(Mirror(key + "b", name, "chunk=65536&ms=20"));
  request_.connections = 4;
  DWORD cancelled_at = 0;
  long result = Run([&](int64 current, int64) {
    if (current < 2 * kMiB || cancelled_at != 0) return false;
    cancelled_at = ::GetTickCount();
    return true;
  });
  DWORD ended_at = ::GetTickCount();
  EXPECT_EQ(result, downloader::kResultAbort) << logger_->Dump();
  ASSERT_NE(cancelled_at, 0u);
  // A guard against a stop that waits for the bodies in flight (seconds
  // here); how soon it lands is bench/run_stop_bench.sh's figure.
  EXPECT_LT(ended_at - cancelled_at, 2000u);
  EXPECT_EQ(testsupport::FileSizeOf(dest_), static_cast<long long>(data.size()));
}

// Stops at random moments with several connections, each next run with the
// mirrors in another order: every run keeps what the last one proved, and
// the last one ends with the whole file.
TEST_F(MultiSourceTaskTest, StoppedAtRandomMomentsThenResumedWithAnotherMirrorOrder) {
  std::string data = NoisyBytes(20 * kMiB + 333, 67);
  std::string name = Publish(data);
  std::string key = UniqueKey();
  std::vector<std::string> mirrors = {Mirror(key + "a", name, "chunk=65536&ms=5"),
                                      Mirror(key + "b", name, "chunk=65536&ms=5"), name};
  std::mt19937 random(20261207);
  int64 proven = 0;
  for (int round = 0; round < 6; ++round) {
    SCOPED_TRACE(round);
    request_ = downloader::MultiSourceRequest();
    std::shuffle(mirrors.begin(), mirrors.end(), random);
    for (const std::string& m : mirrors) {
      if (m == name) {
        AddNginx(name);
      } else {
        AddFault(m);
      }
    }
    request_.connections = 2 + static_cast<int>(random() % 4);
    const bool last = round == 5;
    const int64 stop_after = proven + (1 + static_cast<int64>(random() % 4)) * kMiB;
    long result = Run([&](int64 current, int64) { return !last && current >= stop_after; });
    // What the last run proved is found again on disk.
    const int64 blocks_before = proven / kMiB;
    if (round > 0) {
      std::wstring held = L"MultiSourceTask::OnHashComplete> Existing file holds ";
      bool found = false;
      for (const auto& line : logger_->Lines()) {
        unsigned long long n = 0;
        if (line.rfind(held, 0) == 0 && swscanf(line.c_str() + held.size(), L"%llu", &n) == 1) {
          found = true;
          EXPECT_GE(static_cast<int64>(n), blocks_before);
        }
      }
      EXPECT_TRUE(found) << logger_->Dump();
    }
    auto progress = recorder_->progress();
    ASSERT_FALSE(progress.empty());
    proven = progress.back().first;
    if (last || result == 0) {
      EXPECT_EQ(result, 0) << logger_->Dump();
      EXPECT_EQ(testsupport::ReadWholeFile(dest_), data);
      break;
    }
    EXPECT_EQ(result, downloader::kResultAbort);
  }
}

// The engine in a child process killed at random moments, each next run with
// the mirrors in another order and another connection count: every run
// finds on disk at least what the last one reported verified, and the last
// one ends with the whole file.
TEST_F(MultiSourceTaskTest, KilledAtRandomMomentsThenResumedWithAnotherMirrorOrder) {
  std::string data = NoisyBytes(40 * kMiB + 77, 83);
  std::string name = Publish(data);
  const std::wstring sidecar = dest_ + L".progress";
  std::mt19937 random(::GetTickCount());
  // Three paced mirrors (each connection about 2 MB/s): even six connections
  // take over three seconds for 40 MiB, so two runs killed at 1.2 s at the
  // latest cannot finish it between them.
  std::vector<std::string> mirrors;
  for (char m : std::string("abc")) mirrors.push_back(Mirror(UniqueKey() + m, name, "chunk=65536&ms=30"));
  wchar_t self[MAX_PATH];
  ::GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring child_path(self);
  child_path = child_path.substr(0, child_path.find_last_of(L'\\') + 1) + L"multi_source_child.exe";

  long long reported = 0;
  int kills = 0;
  DWORD exit_code = 1;
  for (int run = 0; run < 8; ++run) {
    SCOPED_TRACE(run);
    std::shuffle(mirrors.begin(), mirrors.end(), random);
    int connections = 2 + static_cast<int>(random() % 5);
    std::wstring command = L"\"" + child_path + L"\" \"" + dest_ + L"\" \"" + sidecar + L"\" " +
                           std::to_wstring(connections);
    for (const std::string& m : mirrors) {
      size_t query = m.find('?');
      command += L" \"" + servers().FaultUrl(m) + L"\" \"" +
                 servers().FaultUrl(m.substr(0, query) + ".meta" + m.substr(query)) + L"\"";
    }
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    ASSERT_TRUE(::CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                                 &process));
    ::CloseHandle(process.hThread);
    stubframework::base::UniqueHandle child(process.hProcess);
    const bool last = run == 7;
    DWORD delay = last ? 120000 : 400 + random() % 800;
    if (::WaitForSingleObject(child.Get(), delay) == WAIT_TIMEOUT) {
      ASSERT_FALSE(last) << "the last run did not end";
      ASSERT_TRUE(::TerminateProcess(child.Get(), 99));
      ::WaitForSingleObject(child.Get(), INFINITE);
      ++kills;
    }
    ::GetExitCodeProcess(child.Get(), &exit_code);
    // What the run found on disk: at least what the previous one reported.
    std::string log = testsupport::ReadWholeFile(sidecar + L".log");
    size_t at = log.find("Existing file holds ");
    if (run > 0 && reported > 0 && at != std::string::npos) {
      long long held = atoll(log.c_str() + at + strlen("Existing file holds "));
      EXPECT_GE(held * kMiB, reported - reported % kMiB) << log.substr(at, 80);
    }
    std::string bytes = testsupport::ReadWholeFile(sidecar);
    if (bytes.size() >= 8) {
      long long value = 0;
      memcpy(&value, bytes.data(), 8);
      reported = std::max(reported, value);
    }
    if (exit_code == 0) break;
  }
  ::DeleteFileW(sidecar.c_str());
  ::DeleteFileW((sidecar + L".log").c_str());
  EXPECT_EQ(exit_code, 0u);
  EXPECT_GE(kills, 2) << "the download finished before it could be killed often enough";
  EXPECT_EQ(testsupport::ReadWholeFile(dest_), data);
}

}  // namespace
