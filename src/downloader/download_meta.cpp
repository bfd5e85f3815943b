#include "downloader/download_meta.h"

#include <cstring>

namespace stubframework::downloader {
namespace {
constexpr size_t kSizeField = kMetaSizeField;
constexpr int64 kMaxBlocks = 0x4000000;  // 2^26

int64 ReadSize(const uint8* data) {
  unsigned long long raw = 0;
  for (size_t i = 0; i < kSizeField; ++i) raw |= static_cast<unsigned long long>(data[i]) << (8 * i);
  return static_cast<int64>(raw);
}
}  // namespace

// Without the rounding addition, which would overflow for sizes near 2^63.
int64 BlockCount(int64 size) { return size <= 0 ? 0 : size / kBlockSize + (size % kBlockSize != 0 ? 1 : 0); }

int64 MetaHeadSize(const uint8* head) { return ReadSize(head); }

int64 MetaLength(int64 size) { return static_cast<int64>(kSizeField) + static_cast<int64>(kDigestSize) * BlockCount(size); }

bool MetaLengthFitsHead(const uint8* head, int64 length) {
  int64 size = ReadSize(head);
  if (size < 0 || BlockCount(size) >= kMaxBlocks) return false;
  return length <= MetaLength(size);
}

bool ParseDownloadMeta(const uint8* data, size_t length, DownloadMeta* meta) {
  if (data == nullptr || length < kSizeField) return false;
  int64 size = ReadSize(data);
  if (size < 0) return false;
  int64 blocks = BlockCount(size);
  if (blocks >= kMaxBlocks) return false;
  if (static_cast<unsigned long long>(length) != kSizeField + kDigestSize * static_cast<unsigned long long>(blocks)) {
    return false;
  }
  meta->size = size;
  meta->digests.resize(static_cast<size_t>(blocks));
  for (size_t k = 0; k < meta->digests.size(); ++k) {
    memcpy(meta->digests[k].data(), data + kSizeField + k * kDigestSize, kDigestSize);
  }
  return true;
}

}  // namespace stubframework::downloader
