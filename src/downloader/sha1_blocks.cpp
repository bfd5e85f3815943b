#include "downloader/sha1_blocks.h"

#include <cpuid.h>
#include <immintrin.h>

#include <cstring>

// Only the functions that execute the extensions are compiled for them; the
// rest of the program runs on any x86 CPU.
#define STUB_SHA1_TARGET __attribute__((target("sha,sse4.1,ssse3")))

namespace stubframework::downloader {
namespace {

// One group of four rounds, G = 0..19. Message words X_k (4 words each) live
// in msg[k % 4]; X_{k} for k >= 4 is built over the groups before it:
// msg1(X_{k-4}, X_{k-3}), then ^ X_{k-2}, then msg2(.., X_{k-1}). The fifth
// word alternates between e[0] and e[1].
template <int G>
STUB_SHA1_TARGET __attribute__((always_inline)) inline void Rounds(__m128i& abcd, __m128i (&e)[2],
                                                                   __m128i (&msg)[4], const uint8* block,
                                                                   __m128i byte_swap) {
  constexpr int kThis = G % 4;
  constexpr int kCur = G % 2;
  if constexpr (G < 4) {
    msg[kThis] = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 16 * G)), byte_swap);
  }
  if constexpr (G == 0) {
    e[0] = _mm_add_epi32(e[0], msg[0]);
  } else {
    e[kCur] = _mm_sha1nexte_epu32(e[kCur], msg[kThis]);
  }
  e[1 - kCur] = abcd;
  if constexpr (G >= 3 && G <= 18) msg[(G + 1) % 4] = _mm_sha1msg2_epu32(msg[(G + 1) % 4], msg[kThis]);
  abcd = _mm_sha1rnds4_epu32(abcd, e[kCur], G / 5);
  if constexpr (G >= 1 && G <= 16) msg[(G + 3) % 4] = _mm_sha1msg1_epu32(msg[(G + 3) % 4], msg[kThis]);
  if constexpr (G >= 2 && G <= 17) msg[(G + 2) % 4] = _mm_xor_si128(msg[(G + 2) % 4], msg[kThis]);
}

template <int... G>
STUB_SHA1_TARGET __attribute__((always_inline)) inline void AllRounds(__m128i& abcd, __m128i (&e)[2],
                                                                      __m128i (&msg)[4], const uint8* block,
                                                                      __m128i byte_swap) {
  (Rounds<G>(abcd, e, msg, block, byte_swap), ...);
}

constexpr uint32_t kInitialState[5] = {0x67452301u, 0xEFCDAB89u, 0x98BADCFEu, 0x10325476u, 0xC3D2E1F0u};

}  // namespace

bool Sha1ExtensionsAvailable() {
  unsigned int eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return false;
  bool ssse3 = (ecx & bit_SSSE3) != 0;
  bool sse41 = (ecx & bit_SSE4_1) != 0;
  // __get_cpuid_count fails when leaf 7 is beyond the CPU's highest leaf.
  if (!__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx)) return false;
  return ssse3 && sse41 && (ebx & bit_SHA) != 0;
}

// Windows keeps a 32-bit thread's stack 4-byte aligned; the vectors spilled
// here need 16.
STUB_SHA1_TARGET __attribute__((force_align_arg_pointer)) void Sha1ExtensionBlocks(uint32_t state[5],
                                                                                   const uint8* data,
                                                                                   size_t blocks) {
  const __m128i byte_swap = _mm_set_epi64x(0x0001020304050607LL, 0x08090a0b0c0d0e0fLL);
  // The instructions want A in the high lane and E in the high lane of its own.
  __m128i abcd = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(state)), 0x1B);
  __m128i e0 = _mm_set_epi32(static_cast<int>(state[4]), 0, 0, 0);
  for (; blocks > 0; --blocks, data += kSha1BlockSize) {
    __m128i abcd_before = abcd;
    __m128i e_before = e0;
    __m128i e[2] = {e0, e0};
    __m128i msg[4];
    AllRounds<0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19>(abcd, e, msg, data,
                                                                                    byte_swap);
    e0 = _mm_sha1nexte_epu32(e[0], e_before);
    abcd = _mm_add_epi32(abcd, abcd_before);
  }
  _mm_storeu_si128(reinterpret_cast<__m128i*>(state), _mm_shuffle_epi32(abcd, 0x1B));
  state[4] = static_cast<uint32_t>(_mm_extract_epi32(e0, 3));
}

void Sha1StreamBegin(Sha1Stream& stream) {
  memcpy(stream.state, kInitialState, sizeof(kInitialState));
  stream.pending_size = 0;
  stream.length = 0;
}

void Sha1StreamAdd(Sha1Stream& stream, const uint8* data, size_t size) {
  if (size == 0) return;
  stream.length += size;
  if (stream.pending_size > 0) {
    size_t take = kSha1BlockSize - stream.pending_size;
    if (take > size) take = size;
    memcpy(stream.pending + stream.pending_size, data, take);
    stream.pending_size += take;
    data += take;
    size -= take;
    if (stream.pending_size < kSha1BlockSize) return;
    Sha1ExtensionBlocks(stream.state, stream.pending, 1);
    stream.pending_size = 0;
  }
  size_t whole = size / kSha1BlockSize;
  if (whole > 0) Sha1ExtensionBlocks(stream.state, data, whole);
  size_t rest = size % kSha1BlockSize;
  memcpy(stream.pending, data + whole * kSha1BlockSize, rest);
  stream.pending_size = rest;
}

void Sha1StreamEnd(Sha1Stream& stream, uint8 digest[kDigestSize]) {
  // 0x80, zeros, then the message length in bits (big-endian) ending a block.
  uint64_t bits = stream.length * 8;
  uint8 tail[2 * kSha1BlockSize] = {0x80};
  size_t pad = (stream.pending_size < kSha1BlockSize - 8 ? kSha1BlockSize : 2 * kSha1BlockSize) -
               stream.pending_size;
  for (int i = 0; i < 8; ++i) tail[pad - 1 - i] = static_cast<uint8>(bits >> (8 * i));
  Sha1StreamAdd(stream, tail, pad);
  for (int i = 0; i < 5; ++i) {
    for (int j = 0; j < 4; ++j) digest[4 * i + j] = static_cast<uint8>(stream.state[i] >> (24 - 8 * j));
  }
}

}  // namespace stubframework::downloader
