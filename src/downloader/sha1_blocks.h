// SHA-1 computed here rather than by the cryptographic provider, for CPUs
// with the x86 SHA extensions: the instructions hash several times as fast as
// the provider's plain code, and hashing was the largest part of the CPU a
// verified download spent. Sha1Context chooses this path only where the CPU
// reports the instructions (Sha1ExtensionsAvailable).
#pragma once

#include <cstddef>
#include <cstdint>

#include "downloader/block_format.h"

namespace stubframework::downloader {

inline constexpr size_t kSha1BlockSize = 64;

// Whether this CPU has the SHA extensions and the SSSE3 and SSE4.1
// instructions the block function also uses (CPUID leaves 7 and 1).
bool Sha1ExtensionsAvailable();

// Runs `blocks` 64-byte blocks through the SHA-1 compression with the SHA
// extensions. Only on a CPU where Sha1ExtensionsAvailable() is true.
void Sha1ExtensionBlocks(uint32_t state[5], const uint8* data, size_t blocks);

// A digest in progress over any number of pieces: the chaining value, the
// bytes of an unfinished block, and the message length.
struct Sha1Stream {
  uint32_t state[5];
  uint8 pending[kSha1BlockSize];
  size_t pending_size;
  uint64_t length;
};

void Sha1StreamBegin(Sha1Stream& stream);
void Sha1StreamAdd(Sha1Stream& stream, const uint8* data, size_t size);
void Sha1StreamEnd(Sha1Stream& stream, uint8 digest[kDigestSize]);

}  // namespace stubframework::downloader
