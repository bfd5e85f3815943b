// DownloadSimpleTask against nginx and the fault server: what it fetches,
// what it proves, and how it resumes.
#include "downloader/download_simple_task.h"

#include <gtest/gtest.h>

#include "downloader/download_clock.h"
#include "downloader/download_meta.h"
#include "downloader/result_codes.h"
#include "download_test_util.h"
#include "support/test_servers.h"

namespace downloader = stubframework::downloader;

namespace {

using downloader::int64;
using testsupport::DownloadRecorder;
using testsupport::Make;
using testsupport::MakeMeta;
using testsupport::NoisyBytes;
using testsupport::RecordingLogger;
using testsupport::UniqueKey;

constexpr int64 kMiB = 1048576;

class DownloadSimpleTaskTest : public testsupport::ServerTest {
 protected:
  void SetUp() override {
    ServerTest::SetUp();
    if (HasFatalFailure()) return;
    dest_ = testsupport::TempFilePath(L"dest");
  }
  void TearDown() override { ::DeleteFileW(dest_.c_str()); }

  // Publishes `data` and its meta under a fresh name; returns the name.
  std::string Publish(const std::string& data, const std::string& meta) {
    std::string name = UniqueKey() + ".bin";
    EXPECT_TRUE(servers().PutFile(name, data));
    EXPECT_TRUE(servers().PutFile(name + ".meta", meta));
    return name;
  }

  void Run(const std::wstring& url, const std::wstring& meta_url,
           const downloader::TransferTimeouts& timeouts = downloader::TransferTimeouts()) {
    downloader::ITask* task =
        downloader::CreateDownloadSimpleTask(url, meta_url, dest_, recorder_.get(), logger_.get(), nullptr, timeouts);
    ASSERT_NE(task, nullptr);
    recorder_->task_ = task;
    task->Start();
    ASSERT_TRUE(recorder_->Wait(120000)) << "no OnComplete";
    recorder_->task_ = nullptr;
    task->Release();
    ::Sleep(20);
    EXPECT_EQ(recorder_->completions(), 1);
  }

  std::wstring dest_;
  testsupport::Ref<testsupport::Object<RecordingLogger>> logger_ = Make<RecordingLogger>();
  testsupport::Ref<testsupport::Object<DownloadRecorder>> recorder_ = Make<DownloadRecorder>();
};

TEST_F(DownloadSimpleTaskTest, FreshDownloadFetchesEverythingAndProvesIt) {
  std::string data = NoisyBytes(3 * kMiB + 12345, 7);
  std::string name = Publish(data, MakeMeta(data));
  Run(servers().NginxUrl("/" + name), servers().NginxUrl("/" + name + ".meta"));

  EXPECT_EQ(recorder_->result(), 0) << logger_->Dump();
  EXPECT_EQ(testsupport::ReadWholeFile(dest_), data);
  auto progress = recorder_->progress();
  ASSERT_FALSE(progress.empty());
  EXPECT_EQ(progress.front(), std::make_pair(int64{0}, static_cast<int64>(data.size())));
  EXPECT_EQ(progress.back(), std::make_pair(static_cast<int64>(data.size()), static_cast<int64>(data.size())));
  // The destination held nothing: the first pass says so, and no block mismatched.
  EXPECT_TRUE(logger_->Has(
      L"DownloadSimpleTask::OnHashComplete> Existing file holds 0 of 4 blocks verified; fetching from block 0."))
      << logger_->Dump();
  EXPECT_EQ(logger_->CountContaining(L"Hash mismatch"), 0u) << logger_->Dump();
  EXPECT_TRUE(logger_->Has(L"DownloadSimpleTask::OnHashComplete> Hash success."));
  auto asked = servers().NginxRequests(name, 2);
  ASSERT_EQ(asked.size(), 2u);
  EXPECT_EQ(asked[0].target, "/" + name + ".meta");
  EXPECT_EQ(asked[1].target, "/" + name);
  EXPECT_EQ(asked[1].range, "bytes=0-3158072");
  EXPECT_GE(downloader::DownloadTimeSeconds(), 0);
  EXPECT_EQ(logger_->CountContaining(L"DownloadStartTime::Start> Download start time "), 1u);
  EXPECT_EQ(logger_->CountContaining(L"DownloadEndTime::End> Download end time "), 1u);
  EXPECT_EQ(logger_->CountContaining(L"DownloadTime::Time> Download time "), 1u);
}

TEST_F(DownloadSimpleTaskTest, CompleteCorrectDestinationNeedsNoTransfer) {
  std::string data = NoisyBytes(3 * kMiB + 100, 11);
  std::string name = Publish(data, MakeMeta(data));
  ASSERT_TRUE(testsupport::WriteWholeFile(dest_, data));
  Run(servers().NginxUrl("/" + name), servers().NginxUrl("/" + name + ".meta"));

  EXPECT_EQ(recorder_->result(), 0);
  EXPECT_TRUE(logger_->Has(L"DownloadSimpleTask::OnHashComplete> Hash success.")) << logger_->Dump();
  EXPECT_EQ(logger_->CountContaining(L"HttpToFileTask::Start"), 0u);
  ::Sleep(200);  // nginx logs a request when it ends; give a stray one time to show
  auto asked = servers().NginxRequests(name, 1);
  ASSERT_EQ(asked.size(), 1u);
  EXPECT_EQ(asked[0].target, "/" + name + ".meta");
  EXPECT_EQ(testsupport::ReadWholeFile(dest_), data);
}

TEST_F(DownloadSimpleTaskTest, FirstBadBlockStartsOneTransferToTheEnd) {
  std::string data = NoisyBytes(10 * kMiB, 13);
  std::string name = Publish(data, MakeMeta(data));
  std::string partial = data;
  partial[3 * kMiB + 777] ^= 0x5A;  // block 3 wrong, blocks 0-2 right
  ASSERT_TRUE(testsupport::WriteWholeFile(dest_, partial));
  Run(servers().NginxUrl("/" + name), servers().NginxUrl("/" + name + ".meta"));

  EXPECT_EQ(recorder_->result(), 0) << logger_->Dump();
  EXPECT_EQ(testsupport::ReadWholeFile(dest_), data);
  EXPECT_TRUE(logger_->Has(
      L"DownloadSimpleTask::OnHashComplete> Existing file holds 3 of 10 blocks verified; fetching from block 3."))
      << logger_->Dump();
  EXPECT_EQ(logger_->CountContaining(L"Hash mismatch"), 0u) << "the transferred blocks all verified";
  EXPECT_TRUE(logger_->Has(L"DownloadSimpleTask::StartHash> Start hash from block 3."));
  // Progress climbs block by block to 3 MiB before the transfer begins there.
  auto progress = recorder_->progress();
  std::vector<int64> before_transfer;
  for (auto& p : progress) {
    before_transfer.push_back(p.first);
    if (p.first == 3 * kMiB) break;
  }
  EXPECT_EQ(before_transfer, (std::vector<int64>{0, kMiB, 2 * kMiB, 3 * kMiB}));
  auto asked = servers().NginxRequests(name, 2);
  ASSERT_EQ(asked.size(), 2u);
  EXPECT_EQ(asked[1].range, "bytes=3145728-10485759");
  EXPECT_EQ(asked[1].if_range, "");
}

TEST_F(DownloadSimpleTaskTest, EmptyFileNeedsOnlyItsEightByteMeta) {
  std::string meta = MakeMeta("");
  ASSERT_EQ(meta.size(), 8u);
  std::string name = Publish("", meta);
  Run(servers().NginxUrl("/" + name), servers().NginxUrl("/" + name + ".meta"));
  EXPECT_EQ(recorder_->result(), 0) << logger_->Dump();
  EXPECT_EQ(testsupport::FileSizeOf(dest_), 0);
  EXPECT_EQ(recorder_->progress(), (std::vector<std::pair<int64, int64>>{{0, 0}}));
  EXPECT_EQ(logger_->CountContaining(L"HttpToFileTask::Start"), 0u);
}

TEST_F(DownloadSimpleTaskTest, MetaOfTwentySevenBytesIsRefused) {
  std::string data = NoisyBytes(100, 3);
  std::string name = Publish(data, MakeMeta(data).substr(0, 27));
  Run(servers().NginxUrl("/" + name), servers().NginxUrl("/" + name + ".meta"));
  EXPECT_EQ(recorder_->result(), downloader::kResultFail);
  EXPECT_TRUE(logger_->Has(L"DownloadSimple::OnMetaComplete> CreateDownloadMetaSimple failed.")) << logger_->Dump();
  EXPECT_EQ(testsupport::FileSizeOf(dest_), -1);  // the early end opens no file
}

TEST_F(DownloadSimpleTaskTest, MissingMetaEndsWithTheTransferCode) {
  std::string name = UniqueKey() + ".bin";
  Run(servers().NginxUrl("/" + name), servers().NginxUrl("/" + name + ".meta"));
  EXPECT_EQ(recorder_->result(), downloader::kResultBadFormat);
  EXPECT_EQ(testsupport::FileSizeOf(dest_), -1);
}

// Cycles that prove a new block go on without limit; three in a row that
// prove none (the same first bad block after a whole new fetch of it) fetch
// the meta once more, and three more end the task with the hash failure.
TEST_F(DownloadSimpleTaskTest, ThreeDownloadsInARowThatProveNoNewBlockEndTheTask) {
  const std::string block2 = std::to_string(2 * kMiB + 5);
  const std::string block3 = std::to_string(kMiB + 5);  // from block 2, where the fetch starts
  struct Case {
    const char* what;
    std::string seq;  // per request: offset of the flipped byte from the first byte served
    long expected;
    std::vector<std::string> ranges;
  };
  const std::string all = "bytes=0-4194303", from2 = "bytes=2097152-4194303", from3 = "bytes=3145728-4194303";
  const Case cases[] = {
      {"block 2 never right", block2 + ",5,5,5,5,5,5,5,5", downloader::kResultBlockUnverifiable,
       {all, from2, from2, from2, from2, from2, from2}},
      {"two fruitless, progress, two fruitless, then right", block2 + ",5,5," + block3 + ",5,5,-",
       downloader::kResultOk, {all, from2, from2, from2, from3, from3, from3}},
      // The last flip would land past the end: that fetch is clean.
      {"one block more every time", std::to_string(kMiB + 5) + "," + std::to_string(kMiB + 5) + "," +
           std::to_string(kMiB + 5) + "," + std::to_string(kMiB + 5),
       downloader::kResultOk, {all, "bytes=1048576-4194303", from2, from3}},
  };
  std::string data = NoisyBytes(4 * kMiB, 17);
  std::string name = Publish(data, MakeMeta(data));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ::DeleteFileW(dest_.c_str());
    recorder_ = Make<DownloadRecorder>();
    logger_ = Make<RecordingLogger>();
    std::string key = UniqueKey();
    Run(servers().FaultUrl("/flipseq/" + key + "?src=" + name + "&seq=" + c.seq),
        servers().NginxUrl("/" + name + ".meta"));
    EXPECT_EQ(recorder_->result(), c.expected) << logger_->Dump();
    std::vector<std::string> ranges;
    for (const auto& r : servers().FaultRequests(key)) ranges.push_back(r.range);
    EXPECT_EQ(ranges, c.ranges);
    EXPECT_EQ(testsupport::FileSizeOf(dest_), 4 * kMiB);
    if (c.expected == downloader::kResultBlockUnverifiable) {
      EXPECT_TRUE(logger_->Has(L"DownloadSimpleTask::OnHashComplete> Block 2 failed after 3 downloads in a row: "
                               L"fetching the meta once more."))
          << logger_->Dump();
      EXPECT_TRUE(logger_->Has(L"DownloadSimpleTask::OnHashComplete> Block 2 failed after 3 downloads in a row."))
          << logger_->Dump();
      // One per transfer: the first, three before the meta is fetched again, three after.
      EXPECT_EQ(logger_->CountContaining(L"Hash mismatch found for block 2."), 7u) << logger_->Dump();
      EXPECT_EQ(logger_->CountContaining(L"Hash mismatch found for block 0."), 0u) << logger_->Dump();
    } else {
      EXPECT_EQ(testsupport::ReadWholeFile(dest_), data);
    }
  }
}

// The meta's size must fit the target volume: a file system with sparse files
// would otherwise give the destination any size at once.
TEST_F(DownloadSimpleTaskTest, AMetaAnnouncingMoreThanTheVolumeHoldsIsDiskFull) {
  std::wstring folder = dest_.substr(0, dest_.find_last_of(L'\\') + 1);
  ULARGE_INTEGER available;
  ASSERT_TRUE(::GetDiskFreeSpaceExW(folder.c_str(), &available, nullptr, nullptr));
  // A valid meta (zero digests) for a file 4 GiB larger than the free space.
  const int64 size = static_cast<int64>(available.QuadPart) + 4096 * kMiB;
  std::string meta(static_cast<size_t>(downloader::MetaLength(size)), '\0');
  for (int i = 0; i < 8; ++i) meta[i] = static_cast<char>((size >> (8 * i)) & 0xFF);
  std::string name = Publish("small", meta);
  Run(servers().NginxUrl("/" + name), servers().NginxUrl("/" + name + ".meta"));
  EXPECT_EQ(recorder_->result(), downloader::kResultDiskFull) << std::hex << recorder_->result();
  EXPECT_EQ(testsupport::FileSizeOf(dest_), -1) << "nothing was created";
  // Seen from the meta's head, before its body was allocated.
  EXPECT_EQ(logger_->CountContaining(L"DownloadSimpleTask::StartMeta> Not enough disk space "), 1u)
      << logger_->Dump();
  EXPECT_EQ(logger_->CountContaining(L"HttpToFileTask::Start"), 0u);
}

// A meta is refused as soon as its head shows that the server announced
// more bytes than the size in it needs, before those bytes are allocated.
TEST_F(DownloadSimpleTaskTest, AMetaLongerThanItsSizeNeedsIsRefusedFromItsHead) {
  std::string data = NoisyBytes(kMiB, 23);
  std::string name = Publish(data, MakeMeta(data) + std::string(1000, 'x'));
  Run(servers().NginxUrl("/" + name), servers().NginxUrl("/" + name + ".meta"));
  EXPECT_EQ(recorder_->result(), downloader::kResultBadFormat) << std::hex << recorder_->result();
  EXPECT_TRUE(logger_->Has(L"HttpToMemTask::OnData> Unexpected content length 1028.")) << logger_->Dump();
  EXPECT_EQ(testsupport::FileSizeOf(dest_), -1);
}

TEST_F(DownloadSimpleTaskTest, CancelDuringTransferLeavesTheDestinationAtFullSize) {
  std::string data = NoisyBytes(4 * kMiB, 19);
  std::string name = Publish(data, MakeMeta(data));
  std::string key = UniqueKey();
  std::wstring url = servers().FaultUrl("/slow/" + key + "?src=" + name + "&chunk=65536&ms=10");
  bool transferring = false;
  auto* logger = logger_.get();
  recorder_->cancel_when_ = [&transferring, logger](int64 current, int64) {
    if (logger->CountContaining(L"HttpToFileTask::Start") > 0 && current > kMiB) transferring = true;
    return transferring;
  };
  Run(url, servers().NginxUrl("/" + name + ".meta"));
  EXPECT_EQ(recorder_->result(), downloader::kResultAbort);
  EXPECT_EQ(testsupport::FileSizeOf(dest_), 4 * kMiB);

  // A later task on the same destination resumes from the first block that
  // does not verify.
  recorder_ = Make<DownloadRecorder>();
  logger_ = Make<RecordingLogger>();
  Run(servers().NginxUrl("/" + name), servers().NginxUrl("/" + name + ".meta"));
  EXPECT_EQ(recorder_->result(), 0);
  EXPECT_EQ(testsupport::ReadWholeFile(dest_), data);
  EXPECT_EQ(logger_->CountContaining(L"Hash mismatch found for block 0."), 0u) << logger_->Dump();
}

// A body that goes idle short of its length, in the middle of a block or three
// bytes before the end of the last one: the transfer asks for the rest, and
// every block, the last included, is written and proven in the same task.
TEST_F(DownloadSimpleTaskTest, ABodyThatGoesIdleIsResumedAndEveryBlockProven) {
  struct Case {
    int64 idle_after;
    const char* second_range;
  };
  const int64 size = 3 * kMiB + 5;
  const Case kCases[] = {
      {kMiB + kMiB / 2, "bytes=1572864-3145732"},
      {size - 3, "bytes=3145730-3145732"},
  };
  std::string data = NoisyBytes(size, 43);
  std::string name = Publish(data, MakeMeta(data));
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.second_range);
    ::DeleteFileW(dest_.c_str());
    recorder_ = Make<DownloadRecorder>();
    logger_ = Make<RecordingLogger>();
    std::string key = UniqueKey();
    downloader::TransferTimeouts timeouts;
    timeouts.receive_ms = 1500;
    Run(servers().FaultUrl("/idle/" + key + "?src=" + name + "&ms=20000&after=" + std::to_string(c.idle_after)),
        servers().NginxUrl("/" + name + ".meta"), timeouts);
    EXPECT_EQ(recorder_->result(), 0) << std::hex << recorder_->result() << logger_->Dump();
    EXPECT_TRUE(testsupport::ReadWholeFile(dest_) == data);
    EXPECT_TRUE(logger_->Has(L"DownloadSimpleTask::OnHashComplete> Hash success.")) << logger_->Dump();
    EXPECT_EQ(recorder_->progress().back(), std::make_pair(size, size));
    auto asked = servers().FaultRequests(key);
    ASSERT_EQ(asked.size(), 2u);
    EXPECT_EQ(asked[1].range, c.second_range);
  }
}

}  // namespace
