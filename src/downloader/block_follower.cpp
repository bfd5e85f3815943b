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

  bool HashBlock(size_t index, const Buffer&, size_t length, Sha1Context& sha1,
                 uint8 digest[kDigestSize]) override {
    unsigned long long offset = static_cast<unsigned long long>(index) * kBlockSize;
    void* view = ::MapViewOfFile(mapping_.Get(), FILE_MAP_READ, static_cast<DWORD>(offset >> 32),
                                 static_cast<DWORD>(offset), length);
    if (view == nullptr) return false;
    bool hashed = sha1.Digest(static_cast<const uint8*>(view), length, digest);
    ::UnmapViewOfFile(view);
    return hashed;
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
  auto* lanes = details::Object<details::DigestLanes>::Create(std::move(source), first);
  if (lanes == nullptr) return nullptr;
  if (!lanes->AddLanes(1)) {
    lanes->Stop();
    lanes->Release();
    return nullptr;
  }
  return lanes;
}

}  // namespace stubframework::downloader
