// The release signature against vectors made by openssl alone (good, one bit
// flipped in the signature or in the data, another key, a key too small,
// truncated, empty), the key this build carries, and the signer that the
// Windows tools use, which must make openssl's bytes exactly.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "identity/product_identity.h"
#include "trust/release_signature.h"
#include "trust/release_signer.h"

namespace stubframework::trust {
namespace {

std::vector<uint8_t> ReadVector(const std::string& name) {
  std::ifstream in(std::string(TRUST_VECTORS) + "\\" + name, std::ios::binary);
  EXPECT_TRUE(in.good()) << name;
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  EXPECT_TRUE(in.good()) << path;
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

ReleaseKey KeyOf(const std::vector<uint8_t>& der) { return ReleaseKey{der.data(), der.size()}; }

bool Verify(const std::vector<uint8_t>& key, const std::vector<uint8_t>& data, const std::vector<uint8_t>& sig) {
  return VerifyReleaseSignature(KeyOf(key), data.data(), data.size(), sig.data(), sig.size());
}

struct VectorCase {
  const char* what;
  const char* key;
  const char* data;
  const char* signature;
  bool valid;
};

constexpr VectorCase kVectors[] = {
    {"openssl's signature", "key_a_public.der", "message.bin", "good.sig", true},
    {"a bit flipped in the signature", "key_a_public.der", "message.bin", "flipped.sig", false},
    {"a bit flipped in the data", "key_a_public.der", "message_flipped.bin", "good.sig", false},
    {"signed with another key", "key_a_public.der", "message.bin", "wrong_key.sig", false},
    {"checked with another key", "key_b_public.der", "message.bin", "good.sig", false},
    {"the signature one byte short", "key_a_public.der", "message.bin", "truncated.sig", false},
    {"an empty signature", "key_a_public.der", "message.bin", "empty.sig", false},
    // Good for its key, but 2048 bits are below what the stub accepts.
    {"a valid signature of a 2048-bit key", "key_small_public.der", "message.bin", "small_key.sig", false},
};

TEST(ReleaseSignatureTest, OpensslVectorsGiveTheirVerdicts) {
  for (const VectorCase& row : kVectors) {
    EXPECT_EQ(Verify(ReadVector(row.key), ReadVector(row.data), ReadVector(row.signature)), row.valid) << row.what;
  }
}

TEST(ReleaseSignatureTest, NoKeyOrABrokenKeyVerifiesNothing) {
  const std::vector<uint8_t> data = ReadVector("message.bin");
  const std::vector<uint8_t> sig = ReadVector("good.sig");
  std::vector<uint8_t> key = ReadVector("key_a_public.der");
  EXPECT_FALSE(VerifyReleaseSignature(ReleaseKey{}, data.data(), data.size(), sig.data(), sig.size()));
  std::vector<uint8_t> cut(key.begin(), key.end() - 1);
  EXPECT_FALSE(Verify(cut, data, sig)) << "a key one byte short";
  std::vector<uint8_t> bent = key;
  bent[bent.size() - 40] ^= 0x10;  // inside the modulus
  EXPECT_FALSE(Verify(bent, data, sig)) << "a key with a bit changed";
}

TEST(ReleaseSignatureTest, EmptyDataHasItsOwnSignature) {
  const std::string pem = ReadText(std::string(TRUST_VECTORS) + "\\key_a.pem");
  std::vector<uint8_t> sig;
  ASSERT_TRUE(SignWithPemKey(pem, nullptr, 0, &sig));
  const std::vector<uint8_t> key = ReadVector("key_a_public.der");
  EXPECT_TRUE(VerifyReleaseSignature(KeyOf(key), nullptr, 0, sig.data(), sig.size()));
  const std::vector<uint8_t> one_byte = {0};
  EXPECT_FALSE(Verify(key, one_byte, sig));
}

TEST(ReleaseSignatureTest, TheWindowsSignerMakesOpensslsBytes) {
  const std::vector<uint8_t> data = ReadVector("message.bin");
  for (const char* name : {"key_a.pem", "key_a_rsa.pem"}) {
    std::vector<uint8_t> sig;
    ASSERT_TRUE(SignWithPemKey(ReadText(std::string(TRUST_VECTORS) + "\\" + name), data.data(), data.size(), &sig))
        << name;
    EXPECT_EQ(sig, ReadVector("good.sig")) << name;
  }
  std::vector<uint8_t> sig;
  EXPECT_FALSE(SignWithPemKey(ReadText(std::string(TRUST_VECTORS) + "\\key_a_public.pem"), data.data(), data.size(),
                              &sig))
      << "a public key cannot sign";
  EXPECT_TRUE(sig.empty());
}

TEST(ReleaseSignatureTest, PublicKeyPemGivesTheDerOpensslWrites) {
  EXPECT_EQ(PublicKeyDerFromPem(ReadText(std::string(TRUST_VECTORS) + "\\key_a_public.pem")),
            ReadVector("key_a_public.der"));
  EXPECT_TRUE(PublicKeyDerFromPem("-----BEGIN PUBLIC KEY-----\nnot base64 at all!\n-----END PUBLIC KEY-----\n").empty());
  EXPECT_TRUE(PublicKeyDerFromPem("").empty());
}

// The build's own key: what the product carries is the public half of the
// pair the build made, and a file signed with openssl by its private half
// verifies in the stub.
TEST(ReleaseSignatureTest, TheProductKeyIsTheBuildsReleaseKey) {
  if (identity::kReleasePublicKeySize == 0) GTEST_SKIP() << "this build has no release key";
  const std::vector<uint8_t> product(identity::kReleasePublicKey,
                                     identity::kReleasePublicKey + identity::kReleasePublicKeySize);
  EXPECT_EQ(product, PublicKeyDerFromPem(ReadText(RELEASE_PUBLIC_KEY)));
  const std::vector<uint8_t> data = ReadVector("message.bin");
  std::ifstream in(std::string(TRUST_VECTORS) + "\\product_key.sig", std::ios::binary);
  if (!in.good()) GTEST_SKIP() << "the build's private release key is not at hand";
  const std::vector<uint8_t> sig((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_TRUE(VerifyReleaseSignature(ProductReleaseKey(), data.data(), data.size(), sig.data(), sig.size()));
  EXPECT_FALSE(Verify(product, data, ReadVector("good.sig")));
}

}  // namespace
}  // namespace stubframework::trust
