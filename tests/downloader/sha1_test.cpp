// SHA-1 on both paths: the published test vectors, every message length
// around the padding's boundaries, a digest fed in odd pieces, the call
// sequence rules, and the SHA-extension path against CryptoAPI on random data.
#include "downloader/sha1_context.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "support/test_servers.h"

namespace downloader = stubframework::downloader;

namespace {

using downloader::kDigestSize;
using downloader::Sha1Context;
using downloader::uint8;

const uint8* Bytes(const std::string& s) { return reinterpret_cast<const uint8*>(s.data()); }

std::string Hex(const uint8 digest[kDigestSize]) {
  std::string hex;
  char two[3];
  for (size_t i = 0; i < kDigestSize; ++i) {
    snprintf(two, sizeof(two), "%02x", digest[i]);
    hex += two;
  }
  return hex;
}

// The digest as hex, or "failed" when the context reports a failure.
std::string DigestHex(Sha1Context& sha1, const std::string& message) {
  uint8 digest[kDigestSize];
  return sha1.Digest(Bytes(message), message.size(), digest) ? Hex(digest) : "failed";
}

// Byte i of a message is (31 i + 7) mod 256: no run of equal bytes that
// would hide a misplaced one.
std::string Pattern(size_t size) {
  std::string s(size, '\0');
  for (size_t i = 0; i < size; ++i) s[i] = static_cast<char>((i * 31 + 7) & 0xff);
  return s;
}

const char* PathName(Sha1Context::Path path) {
  return path == Sha1Context::kShaExtensions ? "SHA extensions" : path == Sha1Context::kCryptoApi ? "CryptoAPI" : "best";
}

constexpr const char* kNoExtensions =
    "this CPU lacks the SHA extensions, SSSE3 or SSE4.1 (CPUID leaf 7 EBX bit 29, leaf 1 ECX bits 9 and 19); "
    "only the CryptoAPI path can run here";

// Each test runs on one path; the SHA-extension runs skip on a CPU without them.
class Sha1PathTest : public ::testing::TestWithParam<Sha1Context::Path> {
 protected:
  void SetUp() override {
    if (sha1_.path() != GetParam()) GTEST_SKIP() << kNoExtensions;
  }
  Sha1Context sha1_{GetParam()};
};

INSTANTIATE_TEST_SUITE_P(Paths, Sha1PathTest, ::testing::Values(Sha1Context::kCryptoApi, Sha1Context::kShaExtensions),
                         [](const ::testing::TestParamInfo<Sha1Context::Path>& info) {
                           return info.param == Sha1Context::kShaExtensions ? std::string("ShaExtensions")
                                                                            : std::string("CryptoApi");
                         });

// FIPS 180 / NIST example messages.
TEST_P(Sha1PathTest, PublishedVectors) {
  struct Case {
    std::string message;
    const char* digest;
  };
  const Case cases[] = {
      {"", "da39a3ee5e6b4b0d3255bfef95601890afd80709"},
      {"abc", "a9993e364706816aba3e25717850c26c9cd0d89d"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq", "84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
      {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopqrstnop"
       "qrstu",
       "a49b2446a02c645bf419f995b67091253a04a259"},
      {std::string(1000000, 'a'), "34aa973cd4c4daa4f61eeb2bdbad27316534016f"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(DigestHex(sha1_, c.message), c.digest) << c.message.size() << " bytes";
  }
}

// Lengths either side of where the padding needs a second block (55/56) and
// of whole blocks (63/64/65, 127/128/129). Digests from an independent
// implementation.
TEST_P(Sha1PathTest, PaddingBoundaries) {
  struct Case {
    size_t size;
    const char* digest;
  };
  const Case cases[] = {
      {0, "da39a3ee5e6b4b0d3255bfef95601890afd80709"},   {1, "5d1be7e9dda1ee8896be5b7e34a85ee16452a7b4"},
      {55, "749bbefb28edc4638b28b2b9a9e03ab9a4032b90"},  {56, "a5b6e9c29d201c774753ff8e7fb64931656f5e63"},
      {57, "eb0737bed5451790722b2df351829ce117e3d9dd"},  {63, "d1a454409359fc372b4d22b3cea6488d6ba1be00"},
      {64, "39a0d8b645ad85f1f976731ed112ac9455e28b78"},  {65, "d0c96e18890114a14716e9686528d2e3fdba8d9e"},
      {119, "562ecf8a430f8e1056e3619bae33628e9a1d0a4e"}, {120, "353f6d2bf0e91aa91b74a2e0b3f297510f7d825f"},
      {127, "bebc42d2d3d1e5fb8ad8895c2dcef2d68a6c279a"}, {128, "0060f2a7e34b6e4d459f560197ef93243732a400"},
      {129, "3a16082d1bf09b604907ec6908b9893ca3e937c0"},
  };
  for (const Case& c : cases) EXPECT_EQ(DigestHex(sha1_, Pattern(c.size)), c.digest) << c.size << " bytes";
}

// A digest fed in pieces equals the digest in one call, whatever the pieces:
// single bytes, pieces that leave a partial block, whole blocks, empty ones.
TEST_P(Sha1PathTest, PiecesMatchOneCall) {
  const std::string message = testsupport::NoisyBytes(5000, 77u);
  const std::string whole = DigestHex(sha1_, message);
  const std::vector<std::vector<size_t>> feeds = {
      {1}, {3, 5, 7}, {63, 1}, {64}, {65}, {55, 9, 0}, {200, 1, 63, 0, 129}, {4999}, {0, 5000},
  };
  for (const std::vector<size_t>& feed : feeds) {
    ASSERT_TRUE(sha1_.Begin());
    size_t at = 0;
    for (size_t n = 0; at < message.size(); ++n) {
      size_t piece = std::min(feed[n % feed.size()], message.size() - at);
      ASSERT_TRUE(sha1_.Add(Bytes(message) + at, piece));
      at += piece;
    }
    uint8 digest[kDigestSize];
    ASSERT_TRUE(sha1_.End(digest));
    EXPECT_EQ(Hex(digest), whole) << "pieces of " << feed[0] << " ...";
  }
}

// Add and End need a Begin; End closes the digest; Begin starts afresh even in
// the middle of one.
TEST_P(Sha1PathTest, CallSequence) {
  uint8 digest[kDigestSize];
  EXPECT_FALSE(sha1_.Add(Bytes("abc"), 3));
  EXPECT_FALSE(sha1_.End(digest));

  ASSERT_TRUE(sha1_.Begin());
  ASSERT_TRUE(sha1_.Add(Bytes("stale bytes"), 11));
  ASSERT_TRUE(sha1_.Begin());
  ASSERT_TRUE(sha1_.Add(Bytes("abc"), 3));
  ASSERT_TRUE(sha1_.End(digest));
  EXPECT_EQ(Hex(digest), "a9993e364706816aba3e25717850c26c9cd0d89d");

  EXPECT_FALSE(sha1_.End(digest));
  EXPECT_FALSE(sha1_.Add(Bytes("abc"), 3));
}

// The SHA-extension path against CryptoAPI: every length 0..200, then larger
// random messages at odd addresses (the block function loads unaligned).
TEST(Sha1Differential, ExtensionsMatchCryptoApi) {
  Sha1Context extensions(Sha1Context::kShaExtensions);
  if (extensions.path() != Sha1Context::kShaExtensions) GTEST_SKIP() << kNoExtensions;
  Sha1Context crypto(Sha1Context::kCryptoApi);
  ASSERT_EQ(crypto.path(), Sha1Context::kCryptoApi);

  const std::string noise = testsupport::NoisyBytes(2 * 1048576 + 64, 4242u);
  for (size_t size = 0; size <= 200; ++size) {
    std::string message = noise.substr(size * 3, size);
    ASSERT_EQ(DigestHex(extensions, message), DigestHex(crypto, message)) << size << " bytes";
  }
  const size_t sizes[] = {1048576, 1048575, 1048577, 2 * 1048576, 4097, 100003};
  for (size_t i = 0; i < sizeof(sizes) / sizeof(sizes[0]); ++i) {
    std::string message = noise.substr(i % 4 + 1, sizes[i]);
    ASSERT_EQ(DigestHex(extensions, message), DigestHex(crypto, message)) << sizes[i] << " bytes";
  }
}

// Says which path a default context hashes with, and checks the choice
// against the CPU flags Linux reports, when they can be read (under Wine).
TEST(Sha1Choice, DefaultFollowsTheCpu) {
  Sha1Context sha1;
  ASSERT_NE(sha1.path(), Sha1Context::kBest);
  printf("SHA-1 hashes with %s\n", PathName(sha1.path()));
  ::testing::Test::RecordProperty("sha1_path", PathName(sha1.path()));

  FILE* cpuinfo = fopen("Z:\\proc\\cpuinfo", "r");
  if (cpuinfo == nullptr) GTEST_SKIP() << "no /proc/cpuinfo to compare with (not under Wine on Linux)";
  std::string flags;
  char line[4096];
  while (fgets(line, sizeof(line), cpuinfo) != nullptr) {
    if (strncmp(line, "flags", 5) == 0) {
      flags = std::string(line) + " ";
      break;
    }
  }
  fclose(cpuinfo);
  ASSERT_FALSE(flags.empty()) << "no flags line in /proc/cpuinfo";
  for (char& c : flags) c = c == '\t' || c == '\n' || c == ':' ? ' ' : c;
  bool has = flags.find(" sha_ni ") != std::string::npos && flags.find(" ssse3 ") != std::string::npos &&
             flags.find(" sse4_1 ") != std::string::npos;
  EXPECT_EQ(sha1.path(), has ? Sha1Context::kShaExtensions : Sha1Context::kCryptoApi) << flags;
}

}  // namespace
