// HashTask: one SHA-1 per 1 MiB block from the file's position, cancel
// between blocks, failures.
#include "downloader/hash_task.h"

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/unique_handle.h"
#include "engine_test_util.h"
#include "support/test_servers.h"

namespace downloader = stubframework::downloader;

namespace {

using downloader::HashResult;
using downloader::kDigestSize;
using stubframework::base::UniqueHandle;
using testsupport::Make;

constexpr size_t kMiB = 1048576;

std::string Hex(const downloader::uint8* digest) {
  static const char kHex[] = "0123456789abcdef";
  std::string text;
  for (size_t i = 0; i < kDigestSize; ++i) {
    text += kHex[digest[i] >> 4];
    text += kHex[digest[i] & 15];
  }
  return text;
}

// SHA-1 of the three blocks of NoisyBytes(2.5 MiB), computed with Python's hashlib.
const char* const kNoisyDigests[] = {
    "17d0816dd02379cc467ec990aaabb2b7b21e00db",
    "df0f1ce5bf90d90230ff4f4ce44c37710b50f951",
    "e33f450a3087a55e26711a73389f06fbc956d8f2",
};

class HashRecorder : public downloader::IHashCallback, public testsupport::Completion {
 public:
  void OnHash(const downloader::uint8 digest[kDigestSize]) override {
    {
      std::lock_guard<std::mutex> hold(mutex_);
      digests_.push_back(Hex(digest));
    }
    if (cancel_in_first_ && task_ != nullptr && digests_.size() == 1) task_->Cancel();
  }
  void OnComplete(HashResult result) override { Complete(result); }
  std::vector<std::string> digests() {
    std::lock_guard<std::mutex> hold(mutex_);
    return digests_;
  }
  bool cancel_in_first_ = false;
  downloader::ITask* task_ = nullptr;

 private:
  std::mutex mutex_;
  std::vector<std::string> digests_;
};

class HashTaskTest : public ::testing::Test {
 protected:
  void SetUp() override { path_ = testsupport::TempFilePath(L"hash"); }
  void TearDown() override {
    file_.Reset();
    ::DeleteFileW(path_.c_str());
  }

  void WriteFileBytes(const std::string& bytes) {
    UniqueHandle out(::CreateFileW(path_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                   nullptr));
    ASSERT_TRUE(out.IsValid());
    DWORD written = 0;
    ASSERT_TRUE(::WriteFile(out.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
  }

  void OpenForHash(DWORD share = FILE_SHARE_READ) {
    file_.Reset(::CreateFileW(path_.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                              nullptr));
    ASSERT_TRUE(file_.IsValid());
  }

  void Run(testsupport::Object<HashRecorder>* recorder) {
    downloader::ITask* task = downloader::CreateHashTask(file_.Get(), recorder);
    ASSERT_NE(task, nullptr);
    recorder->task_ = task;
    task->Start();
    ASSERT_TRUE(recorder->Wait());
    task->Start();  // a second start is ignored
    task->Release();
    ::Sleep(20);
    EXPECT_EQ(recorder->completions(), 1);
  }

  std::wstring path_;
  UniqueHandle file_;
};

TEST_F(HashTaskTest, TwoAndAHalfMiBGiveThreeDigestsInFileOrder) {
  WriteFileBytes(testsupport::NoisyBytes(2 * kMiB + kMiB / 2));
  OpenForHash();
  auto recorder = Make<HashRecorder>();
  Run(recorder.get());
  EXPECT_EQ(recorder->result(), downloader::Success);
  EXPECT_EQ(recorder->digests(), std::vector<std::string>(std::begin(kNoisyDigests), std::end(kNoisyDigests)));
}

TEST_F(HashTaskTest, StartsAtTheFilePosition) {
  WriteFileBytes(testsupport::NoisyBytes(2 * kMiB + kMiB / 2));
  OpenForHash();
  LARGE_INTEGER at;
  at.QuadPart = 2 * kMiB;
  ASSERT_TRUE(::SetFilePointerEx(file_.Get(), at, nullptr, FILE_BEGIN));
  auto recorder = Make<HashRecorder>();
  Run(recorder.get());
  EXPECT_EQ(recorder->result(), downloader::Success);
  EXPECT_EQ(recorder->digests(), std::vector<std::string>{kNoisyDigests[2]});
}

TEST_F(HashTaskTest, EmptyRestGivesNoDigestAndSuccess) {
  WriteFileBytes("");
  OpenForHash();
  auto recorder = Make<HashRecorder>();
  Run(recorder.get());
  EXPECT_EQ(recorder->result(), downloader::Success);
  EXPECT_TRUE(recorder->digests().empty());
}

TEST_F(HashTaskTest, CancelInsideTheFirstDigestStopsThePass) {
  WriteFileBytes(testsupport::NoisyBytes(2 * kMiB + kMiB / 2));
  OpenForHash();
  auto recorder = Make<HashRecorder>();
  recorder->cancel_in_first_ = true;
  Run(recorder.get());
  EXPECT_EQ(recorder->result(), downloader::Cancelled);
  EXPECT_EQ(recorder->digests(), std::vector<std::string>{kNoisyDigests[0]});
}

TEST_F(HashTaskTest, CancelBeforeStartIsIgnored) {
  WriteFileBytes(testsupport::NoisyBytes(kMiB));
  OpenForHash();
  auto recorder = Make<HashRecorder>();
  downloader::ITask* task = downloader::CreateHashTask(file_.Get(), recorder.get());
  ASSERT_NE(task, nullptr);
  task->Cancel();
  task->Start();
  ASSERT_TRUE(recorder->Wait());
  task->Release();
  EXPECT_EQ(recorder->result(), downloader::Success);
  EXPECT_EQ(recorder->digests().size(), 1u);
}

// A pipe whose writer has sent exactly one block and gone: the first read
// returns that block, the second fails with ERROR_BROKEN_PIPE. (Byte-range
// locks would do the same on a file, but Wine does not enforce them on reads.)
TEST_F(HashTaskTest, ReadErrorOnTheSecondBlockFailsAfterOneDigest) {
  HANDLE read_end = nullptr;
  HANDLE write_end = nullptr;
  ASSERT_TRUE(::CreatePipe(&read_end, &write_end, nullptr, static_cast<DWORD>(2 * kMiB)));
  UniqueHandle reader(read_end);
  UniqueHandle writer(write_end);
  std::string block = testsupport::NoisyBytes(kMiB);
  std::thread feed([&] {
    DWORD written = 0;
    ::WriteFile(writer.Get(), block.data(), static_cast<DWORD>(block.size()), &written, nullptr);
  });
  DWORD available = 0;
  for (int i = 0; i < 500 && available < kMiB; ++i) {
    ::PeekNamedPipe(reader.Get(), nullptr, 0, nullptr, &available, nullptr);
    if (available < kMiB) ::Sleep(5);
  }
  if (available < kMiB) {
    // The writer is blocked on a smaller pipe buffer; let it finish first.
    std::string drain(kMiB, '\0');
    DWORD got = 0;
    ::ReadFile(reader.Get(), &drain[0], 1, &got, nullptr);
    feed.join();
    writer.Reset();
    GTEST_SKIP() << "the pipe does not buffer one whole block here (" << available << " bytes)";
  }
  feed.join();
  writer.Reset();

  auto recorder = Make<HashRecorder>();
  downloader::ITask* task = downloader::CreateHashTask(reader.Get(), recorder.get());
  ASSERT_NE(task, nullptr);
  task->Start();
  ASSERT_TRUE(recorder->Wait());
  task->Release();
  EXPECT_EQ(recorder->result(), downloader::Failed);
  EXPECT_EQ(recorder->digests(), std::vector<std::string>{kNoisyDigests[0]});
}

TEST(Sha1, KnownAnswers) {
  downloader::uint8 digest[kDigestSize];
  ASSERT_TRUE(downloader::Sha1(reinterpret_cast<const downloader::uint8*>("abc"), 3, digest));
  EXPECT_EQ(Hex(digest), "a9993e364706816aba3e25717850c26c9cd0d89d");
  ASSERT_TRUE(downloader::Sha1(nullptr, 0, digest));
  EXPECT_EQ(Hex(digest), "da39a3ee5e6b4b0d3255bfef95601890afd80709");
}

}  // namespace
