// DigestLanes: digests in block order whatever lane finishes first, a failure
// in its place, lanes never far ahead of the reader, a stop that ends waiting
// lanes; and the block follower on a file that is being written.
#include "downloader/digest_lanes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "base/unique_handle.h"
#include "downloader/block_follower.h"
#include "engine_test_util.h"
#include "support/test_servers.h"

namespace downloader = stubframework::downloader;

namespace {

using downloader::kDigestSize;
using downloader::uint8;
using downloader::details::BlockSource;
using downloader::details::DigestLanes;
using downloader::details::Object;
using stubframework::base::UniqueHandle;

constexpr size_t kMiB = 1048576;
constexpr size_t kBytesPerBlock = 4096;

std::string BlockBytes(size_t index) { return testsupport::NoisyBytes(kBytesPerBlock, 1000u + index); }

std::string Digest(const std::string& bytes) {
  uint8 digest[kDigestSize];
  EXPECT_TRUE(downloader::Sha1(reinterpret_cast<const uint8*>(bytes.data()), bytes.size(), digest));
  return std::string(reinterpret_cast<const char*>(digest), kDigestSize);
}

// Blocks of noisy bytes made on claim; even blocks hash slowly so that their
// odd successors are done first. Knows the highest block claimed.
class FakeSource : public BlockSource {
 public:
  size_t blocks = 12;
  size_t claim_fails_at = SIZE_MAX;
  size_t hash_fails_at = SIZE_MAX;
  size_t buffer_size = kBytesPerBlock;
  int64_t available = INT64_MAX;  // blocks below this may be claimed
  std::atomic<size_t>* claimed;   // highest index claimed + 1
  std::atomic<DWORD> claim_thread{0};

  size_t LaneBufferSize() const override { return buffer_size; }
  Claim ClaimBlock(size_t index, downloader::Buffer& buffer, size_t* length) override {
    if (index == claim_fails_at) return kFailed;
    if (index >= blocks) return kEnd;
    if (static_cast<int64_t>(index) >= available) return kNotYet;
    std::string bytes = BlockBytes(index);
    memcpy(buffer.data(), bytes.data(), bytes.size());
    *length = bytes.size();
    if (index + 1 > *claimed) *claimed = index + 1;
    claim_thread = ::GetCurrentThreadId();
    return kReady;
  }
  bool HashBlock(size_t index, const downloader::Buffer& buffer, size_t length, downloader::Sha1Context& sha1,
                 uint8 digest[kDigestSize]) override {
    if (index % 2 == 0) ::Sleep(15);
    if (index == hash_fails_at) return false;
    return sha1.Digest(buffer.data(), length, digest);
  }
  void Advance(int64_t end) override { available = end; }
};

// Reads until the lanes say end or failure; the digests and the last answer.
// With `own`, the reader hashes blocks no lane has taken.
std::vector<std::string> ReadAll(DigestLanes* lanes, DigestLanes::Next* last, DigestLanes::Lane* own = nullptr) {
  std::vector<std::string> got;
  uint8 digest[kDigestSize];
  while ((*last = lanes->NextDigest(digest, own)) == DigestLanes::kDigest) {
    got.emplace_back(reinterpret_cast<const char*>(digest), kDigestSize);
  }
  return got;
}

// What a routine handed over to a lane saw.
struct Handed {
  DigestLanes* lanes = nullptr;
  DWORD thread = 0;
  std::vector<std::string> digests;
  DigestLanes::Next last = DigestLanes::kFailed;
  HANDLE done = nullptr;
};

DWORD WINAPI ReadAllOnThisThread(void* context) {
  auto* handed = static_cast<Handed*>(context);
  handed->thread = ::GetCurrentThreadId();
  DigestLanes::Lane own;
  handed->digests = ReadAll(handed->lanes, &handed->last, &own);
  ::SetEvent(handed->done);
  return 0;
}

class DigestLanesTest : public ::testing::Test {
 protected:
  DigestLanes* Make(std::unique_ptr<FakeSource> source, size_t first, int lanes) {
    source->claimed = &claimed_;
    DigestLanes* made = Object<DigestLanes>::Create(std::move(source), first);
    EXPECT_NE(made, nullptr);
    if (made != nullptr && lanes > 0) {
      EXPECT_TRUE(made->AddLanes(lanes));
    }
    return made;
  }
  static std::unique_ptr<FakeSource> Source() { return std::make_unique<FakeSource>(); }

  static std::vector<std::string> Expected(size_t first, size_t end) {
    std::vector<std::string> digests;
    for (size_t i = first; i < end; ++i) digests.push_back(Digest(BlockBytes(i)));
    return digests;
  }

  std::atomic<size_t> claimed_{0};
};

TEST_F(DigestLanesTest, EveryDigestComesInBlockOrderThenTheEndWhoeverHashes) {
  struct Case {
    const char* what;
    int thread_lanes;
    bool reader_hashes;
  };
  const Case cases[] = {
      {"two thread-pool lanes", 2, false},
      {"one lane and the reader", 1, true},
      {"the reader alone", 0, true},
  };
  for (const Case& c : cases) {
    claimed_ = 0;
    DigestLanes* lanes = Make(Source(), 0, c.thread_lanes);
    DigestLanes::Lane own;
    DigestLanes::Next last;
    EXPECT_EQ(ReadAll(lanes, &last, c.reader_hashes ? &own : nullptr), Expected(0, 12)) << c.what;
    EXPECT_EQ(last, DigestLanes::kEnd) << c.what;
    uint8 digest[kDigestSize];
    EXPECT_EQ(lanes->NextDigest(digest, nullptr), DigestLanes::kEnd) << "the end is answered again: " << c.what;
    lanes->Stop();
    lanes->Release();
  }
}

TEST_F(DigestLanesTest, AFailureComesInItsPlaceAfterTheDigestsBeforeIt) {
  struct Case {
    const char* what;
    size_t claim_fails_at;
    size_t hash_fails_at;
  };
  const Case cases[] = {
      {"a read that fails at block 3", 3, SIZE_MAX},
      {"a hash that fails at block 4 while block 5 is done first", SIZE_MAX, 4},
      {"a read that fails at the first block", 0, SIZE_MAX},
  };
  for (const Case& c : cases) {
    auto source = Source();
    source->claim_fails_at = c.claim_fails_at;
    source->hash_fails_at = c.hash_fails_at;
    DigestLanes* lanes = Make(std::move(source), 0, 1);
    DigestLanes::Lane own;
    DigestLanes::Next last;
    size_t good = std::min(c.claim_fails_at, c.hash_fails_at);
    EXPECT_EQ(ReadAll(lanes, &last, &own), Expected(0, good)) << c.what;
    EXPECT_EQ(last, DigestLanes::kFailed) << c.what;
    lanes->Stop();
    lanes->Release();
  }
}

TEST_F(DigestLanesTest, LanesStayWithinTheWindowOfTheReader) {
  // From block 5 on, with nobody reading, lanes claim exactly a window.
  struct Case {
    const char* what;
    size_t window;
  };
  const Case cases[] = {
      {"a pass's window", downloader::details::kLaneWindow},
      {"room for every block (a follower's)", 35},
      {"a window of one", 1},
  };
  for (const Case& c : cases) {
    claimed_ = 0;
    auto source = Source();
    source->blocks = 40;
    source->claimed = &claimed_;
    DigestLanes* lanes = Object<DigestLanes>::Create(std::move(source), 5, c.window);
    ASSERT_TRUE(lanes != nullptr && lanes->ok());
    ASSERT_TRUE(lanes->AddLanes(2));
    for (int i = 0; i < 300 && claimed_.load() < 5 + c.window; ++i) ::Sleep(5);
    ::Sleep(100);  // nothing is read meanwhile
    EXPECT_EQ(claimed_.load(), 5 + c.window) << c.what;
    DigestLanes::Next last;
    EXPECT_EQ(ReadAll(lanes, &last), Expected(5, 40)) << c.what;
    EXPECT_EQ(last, DigestLanes::kEnd) << c.what;
    lanes->Stop();
    lanes->Release();
  }
}

TEST_F(DigestLanesTest, BlocksWaitForAdvanceAndStopEndsTheWait) {
  auto source = Source();
  source->available = 2;
  DigestLanes* lanes = Make(std::move(source), 0, 1);
  uint8 digest[kDigestSize];
  ASSERT_EQ(lanes->NextDigest(digest, nullptr), DigestLanes::kDigest);
  ASSERT_EQ(lanes->NextDigest(digest, nullptr), DigestLanes::kDigest);
  ::Sleep(100);
  EXPECT_EQ(claimed_.load(), 2u) << "block 2 is not claimed before Advance";
  lanes->Advance(3);
  ASSERT_EQ(lanes->NextDigest(digest, nullptr), DigestLanes::kDigest);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(digest), kDigestSize), Digest(BlockBytes(2)));

  // A reader that would hash block 3 itself waits for it as well.
  DigestLanes::Lane own;
  std::thread stopper([lanes] {
    ::Sleep(100);
    lanes->Stop();
  });
  EXPECT_EQ(lanes->NextDigest(digest, &own), DigestLanes::kFailed) << "a reader waiting for block 3 is let go";
  stopper.join();
  lanes->Release();
}

TEST_F(DigestLanesTest, LanesToStartAtTheFirstAdvanceStartThere) {
  auto source = Source();
  source->available = 0;
  DigestLanes* lanes = Make(std::move(source), 0, 0);
  lanes->AddLanesOnAdvance(1);
  ::Sleep(100);
  EXPECT_EQ(claimed_.load(), 0u);
  lanes->Advance(12);
  for (int i = 0; i < 200 && claimed_.load() == 0; ++i) ::Sleep(5);
  EXPECT_GT(claimed_.load(), 0u) << "a lane started and took blocks with nobody reading";
  DigestLanes::Next last;
  EXPECT_EQ(ReadAll(lanes, &last), Expected(0, 12));
  EXPECT_EQ(last, DigestLanes::kEnd);
  lanes->Stop();
  lanes->Release();
}

// The reader of a follower takes over the follower's thread; the blocks left
// are then hashed by the reader.
TEST_F(DigestLanesTest, HandOverRunsOnTheLaneThreadAndTheReaderHashesTheRest) {
  auto source = Source();
  source->available = 1;
  FakeSource* fake = source.get();
  DigestLanes* lanes = Make(std::move(source), 0, 1);
  for (int i = 0; i < 200 && claimed_.load() == 0; ++i) ::Sleep(5);
  ASSERT_EQ(claimed_.load(), 1u);
  DWORD lane_thread = fake->claim_thread;

  Handed handed;
  handed.lanes = lanes;
  handed.done = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  lanes->Advance(12);
  ASSERT_TRUE(lanes->HandOver(&ReadAllOnThisThread, &handed));
  ASSERT_EQ(::WaitForSingleObject(handed.done, 10000), WAIT_OBJECT_0);
  ::CloseHandle(handed.done);
  EXPECT_EQ(handed.thread, lane_thread);
  EXPECT_EQ(handed.digests, Expected(0, 12));
  EXPECT_EQ(handed.last, DigestLanes::kEnd);
  lanes->Stop();
  EXPECT_FALSE(lanes->HandOver(&ReadAllOnThisThread, &handed)) << "no lane runs any more";
  lanes->Release();
}

TEST_F(DigestLanesTest, WhenNobodyCanHashTheAnswerIsAFailureNotAHang) {
  struct Case {
    const char* what;
    int thread_lanes;
    size_t buffer_size;
  };
  const Case cases[] = {
      {"no lane, and a reader that does not hash", 0, kBytesPerBlock},
      {"lanes that cannot get their buffers", 2, static_cast<size_t>(-1) / 2},
  };
  for (const Case& c : cases) {
    auto source = Source();
    source->buffer_size = c.buffer_size;
    DigestLanes* lanes = Make(std::move(source), 0, c.thread_lanes);
    uint8 digest[kDigestSize];
    EXPECT_EQ(lanes->NextDigest(digest, nullptr), DigestLanes::kFailed) << c.what;
    lanes->Stop();
    lanes->Release();
  }
}

// SHA-1 of the three blocks of NoisyBytes(2.5 MiB), from Python's hashlib.
const char* const kNoisyDigests[] = {
    "17d0816dd02379cc467ec990aaabb2b7b21e00db",
    "df0f1ce5bf90d90230ff4f4ce44c37710b50f951",
    "e33f450a3087a55e26711a73389f06fbc956d8f2",
};

std::string Hex(const uint8* digest) {
  static const char kHex[] = "0123456789abcdef";
  std::string text;
  for (size_t i = 0; i < kDigestSize; ++i) {
    text += kHex[digest[i] >> 4];
    text += kHex[digest[i] & 15];
  }
  return text;
}

class BlockFollowerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = testsupport::TempFilePath(L"follow");
    // As the block-verified download holds its destination: read and write,
    // no sharing, sized up front (zeros).
    file_.Reset(::CreateFileW(path_.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(file_.IsValid());
    LARGE_INTEGER size;
    size.QuadPart = static_cast<LONGLONG>(data_.size());
    ASSERT_TRUE(::SetFilePointerEx(file_.Get(), size, nullptr, FILE_BEGIN));
    ASSERT_TRUE(::SetEndOfFile(file_.Get()));
  }
  void TearDown() override {
    file_.Reset();
    ::DeleteFileW(path_.c_str());
  }

  void Seek(long long offset) {
    LARGE_INTEGER at;
    at.QuadPart = offset;
    ASSERT_TRUE(::SetFilePointerEx(file_.Get(), at, nullptr, FILE_BEGIN));
  }
  void Write(size_t from, size_t to) {
    DWORD written = 0;
    ASSERT_TRUE(::WriteFile(file_.Get(), data_.data() + from, static_cast<DWORD>(to - from), &written, nullptr));
    ASSERT_EQ(written, to - from);
  }

  const std::string data_ = testsupport::NoisyBytes(2 * kMiB + kMiB / 2);
  std::wstring path_;
  UniqueHandle file_;
};

// The writer reports half of block 0, waits, then writes the rest: a follower
// that hashed before a block was reported whole would see zeros. The writer's
// file position is its own throughout.
TEST_F(BlockFollowerTest, HashesEachBlockOnceReportedWholeWithoutMovingTheWriter) {
  DigestLanes* lanes = downloader::CreateBlockFollower(file_.Get(), static_cast<long long>(data_.size()), 0);
  ASSERT_NE(lanes, nullptr);
  Seek(0);
  Write(0, kMiB / 2);
  lanes->Advance(kMiB / 2);
  ::Sleep(100);
  Write(kMiB / 2, 2 * kMiB + 1000);
  lanes->Advance(2 * kMiB + 1000);
  Write(2 * kMiB + 1000, data_.size());
  lanes->Advance(static_cast<long long>(data_.size()));

  std::vector<std::string> got;
  uint8 digest[kDigestSize];
  DigestLanes::Next next;
  while ((next = lanes->NextDigest(digest, nullptr)) == DigestLanes::kDigest) got.push_back(Hex(digest));
  EXPECT_EQ(next, DigestLanes::kEnd);
  EXPECT_EQ(got, std::vector<std::string>(std::begin(kNoisyDigests), std::end(kNoisyDigests)));
  LARGE_INTEGER position;
  LARGE_INTEGER zero{};
  ASSERT_TRUE(::SetFilePointerEx(file_.Get(), zero, &position, FILE_CURRENT));
  EXPECT_EQ(position.QuadPart, static_cast<LONGLONG>(data_.size()));
  lanes->Stop();
  lanes->Release();
}

TEST_F(BlockFollowerTest, StartsAtItsFirstBlock) {
  Seek(0);
  Write(0, data_.size());
  DigestLanes* lanes = downloader::CreateBlockFollower(file_.Get(), static_cast<long long>(data_.size()), 2);
  ASSERT_NE(lanes, nullptr);
  lanes->Advance(static_cast<long long>(data_.size()));
  DigestLanes::Lane own;
  uint8 digest[kDigestSize];
  ASSERT_EQ(lanes->NextDigest(digest, &own), DigestLanes::kDigest);
  EXPECT_EQ(Hex(digest), kNoisyDigests[2]);
  EXPECT_EQ(lanes->NextDigest(digest, &own), DigestLanes::kEnd);
  lanes->Stop();
  lanes->Release();
}

TEST_F(BlockFollowerTest, AnEmptyFileHasNoFollower) {
  EXPECT_EQ(downloader::CreateBlockFollower(file_.Get(), 0, 0), nullptr);
}

}  // namespace
