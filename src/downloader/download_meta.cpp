#include "downloader/download_meta.h"

#include <cstring>

namespace stubframework::downloader {
namespace {
constexpr size_t kSizeField = 8;
constexpr int64 kMaxBlocks = 0x4000000;  // 2^26
}  // namespace

int64 BlockCount(int64 size) { return size <= 0 ? 0 : (size + kBlockSize - 1) / kBlockSize; }

bool ParseDownloadMeta(const uint8* data, size_t length, DownloadMeta* meta) {
  if (data == nullptr || length < kSizeField) return false;
  unsigned long long raw = 0;
  for (size_t i = 0; i < kSizeField; ++i) raw |= static_cast<unsigned long long>(data[i]) << (8 * i);
  int64 size = static_cast<int64>(raw);
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
