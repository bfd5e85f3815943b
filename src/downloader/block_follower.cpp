// A follower is DigestLanes over a MappedBlockSource: the transfer's thread
// moves the written end forward (Advance), lanes on thread-pool threads claim
// each block once all of it is written and hash it through a view, and the
// hash pass after the transfer reads their digests in order. Stop, from the
// owner's thread, waits for every lane to leave.
#include "downloader/block_follower.h"

#include <algorithm>
#include <memory>
#include <new>

#include "base/unique_handle.h"
#include "downloader/download_meta.h"
#include "downloader/object.h"

namespace stubframework::downloader {
namespace {

using details::BlockSource;

// A multiple of the 64 KiB allocation granularity views must start on.
constexpr size_t kViewSize = 262144;

class MappedBlockSource : public BlockSource {
 public:
  MappedBlockSource(base::UniqueHandle mapping, int64 size)
      : mapping_(std::move(mapping)), size_(size), blocks_(static_cast<size_t>(BlockCount(size))) {}

  size_t LaneBufferSize() const override { return 0; }

  Claim ClaimBlock(size_t index, Buffer&, size_t* length) override {
    if (index >= blocks_) return kEnd;
    int64 begin = static_cast<int64>(index) * kBlockSize;
    int64 end = std::min(begin + kBlockSize, size_);
    if (written_ < end) return kNotYet;
    *length = static_cast<size_t>(end - begin);
    return kReady;
  }

  // A block is hashed through views of a quarter of it at a time: the pages
  // of a view count as the process's memory while it is mapped.
  bool HashBlock(size_t index, const Buffer&, size_t length, Sha1Context& sha1,
                 uint8 digest[kDigestSize]) override {
    if (!sha1.Begin()) return false;
    unsigned long long offset = static_cast<unsigned long long>(index) * kBlockSize;
    for (size_t done = 0; done < length;) {
      size_t piece = std::min(length - done, kViewSize);
      unsigned long long at = offset + done;
      void* view = ::MapViewOfFile(mapping_.Get(), FILE_MAP_READ, static_cast<DWORD>(at >> 32),
                                   static_cast<DWORD>(at), piece);
      if (view == nullptr) return false;
      bool added = sha1.Add(static_cast<const uint8*>(view), piece);
      ::UnmapViewOfFile(view);
      if (!added) return false;
      done += piece;
    }
    return sha1.End(digest);
  }

  void Advance(int64 end) override { written_ = std::max(written_, end); }

 private:
  base::UniqueHandle mapping_;
  int64 size_;
  size_t blocks_;
  int64 written_ = 0;
};

}  // namespace

details::DigestLanes* CreateBlockFollower(HANDLE file, int64 size, size_t first) {
  if (size <= 0) return nullptr;
  base::UniqueHandle mapping(::CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr));
  if (!mapping) return nullptr;
  std::unique_ptr<BlockSource> source(new (std::nothrow) MappedBlockSource(std::move(mapping), size));
  if (source == nullptr) return nullptr;
  // Nobody reads the digests before the transfer ends: room for all of them.
  int64 blocks = BlockCount(size);
  if (static_cast<int64>(first) >= blocks) return nullptr;
  auto* lanes = details::Object<details::DigestLanes>::Create(std::move(source), first,
                                                              static_cast<size_t>(blocks - static_cast<int64>(first)));
  if (lanes == nullptr) return nullptr;
  if (!lanes->ok()) {
    lanes->Release();
    return nullptr;
  }
  lanes->AddLanesOnAdvance(1);
  return lanes;
}

}  // namespace stubframework::downloader
