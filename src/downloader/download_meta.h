// The meta file beside each download: the file's size (8 bytes, signed,
// little-endian), then one SHA-1 digest per 1 MiB block, in file order.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <vector>

#include "downloader/interfaces.h"

namespace stubframework::downloader {

using Digest = std::array<uint8, kDigestSize>;

struct DownloadMeta {
  int64 size = 0;
  std::vector<Digest> digests;
};

// Number of 1 MiB blocks of a file of `size` bytes.
int64 BlockCount(int64 size);

// Valid only when at least 8 bytes long, the size is not negative, the block
// count is below 2^26 and the length is exactly 8 + 20 * blocks.
bool ParseDownloadMeta(const uint8* data, size_t length, DownloadMeta* meta);

}  // namespace stubframework::downloader
