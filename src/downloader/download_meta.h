// The meta file beside each download: the file's size (8 bytes, signed,
// little-endian), then one SHA-1 digest per 1 MiB block, in file order.
#pragma once

#include <array>
#include <cstddef>
#include <vector>

#include "downloader/block_format.h"

namespace stubframework::downloader {

using Digest = std::array<uint8, kDigestSize>;

struct DownloadMeta {
  int64 size = 0;
  std::vector<Digest> digests;
};

// Number of 1 MiB blocks of a file of `size` bytes.
int64 BlockCount(int64 size);

// The meta starts with the file's size; this many bytes.
inline constexpr size_t kMetaSizeField = 8;

// Valid only when at least 8 bytes long, the size is not negative, the block
// count is below 2^26 and the length is exactly 8 + 20 * blocks.
bool ParseDownloadMeta(const uint8* data, size_t length, DownloadMeta* meta);

// Length of the meta of a file of `size` bytes: 8 + 20 per started MiB.
int64 MetaLength(int64 size);

// The file size the first 8 bytes of a meta announce.
int64 MetaHeadSize(const uint8* head);

// Whether a meta body of `length` bytes whose first 8 bytes are `head` is no
// longer than the size it announces needs (checked before it is allocated).
bool MetaLengthFitsHead(const uint8* head, int64 length);

}  // namespace stubframework::downloader
