// metatool: writes and checks the .meta file that the installer's
// block-verified download proves each 1 MiB block against.
//
// Format (little-endian): 8-byte signed file size, then one 20-byte SHA-1
// digest per 1 MiB block in file order; the last block may be shorter.
//
// It also signs a file with the publisher's release key and checks such a
// signature: RSA (3072 bits or more), PKCS #1 v1.5 over SHA-256, the bytes
// `openssl dgst -sha256 -sign KEY -out FILE.sig FILE` writes.
//
// Builds natively on Linux (OpenSSL) and for Windows (CryptoAPI, through the
// stub's own signature check).
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#include <wincrypt.h>

#include "trust/release_signature.h"
#include "trust/release_signer.h"
#else
#include <openssl/evp.h>
#include <openssl/pem.h>
#endif

namespace {

constexpr size_t kBlockSize = 1048576;
constexpr size_t kDigestSize = 20;
constexpr uint64_t kMaxBlocks = 0x4000000;  // the installer refuses 2^26 blocks or more

const char kUsage[] =
    "usage: metatool create FILE [META]   write META (default FILE.meta) for FILE\n"
    "       metatool verify FILE META     check FILE against META\n"
    "       metatool sign --key KEY FILE...       write FILE.sig, FILE signed with the private release key KEY\n"
    "       metatool verify-signature --key PUB FILE   check FILE.sig against FILE and the public key PUB\n"
    "       metatool --help\n"
    "\n"
    "A .meta file holds the file's size (8 bytes, little-endian) and the SHA-1\n"
    "of each 1 MiB block. Publish it beside the file as URL + \".meta\"; the\n"
    "installer downloads it first and proves every block it receives.\n"
    "\n"
    "A release signature (FILE.sig) is what\n"
    "  openssl dgst -sha256 -sign KEY -out FILE.sig FILE\n"
    "makes with an RSA key of 3072 bits or more. Sign every .meta (and the\n"
    "component list) and publish FILE.sig beside FILE: a stub built with the\n"
    "public half uses nothing unsigned.\n"
    "\n"
    "Exit status: 0 success (verify: every block matches; verify-signature: the\n"
    "signature is good), 1 verify found a difference or the signature is bad,\n"
    "2 usage error or unreadable/unwritable input.\n";

constexpr unsigned kMinKeyBits = 3072;
constexpr size_t kLargestSignedFile = 256u * 1024 * 1024;
constexpr size_t kLargestSignature = 2048;

bool Sha1(const unsigned char* data, size_t size, unsigned char digest[kDigestSize]) {
#ifdef _WIN32
  HCRYPTPROV provider = 0;
  if (!CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT)) return false;
  HCRYPTHASH hash = 0;
  bool ok = false;
  if (CryptCreateHash(provider, CALG_SHA1, 0, 0, &hash)) {
    DWORD length = kDigestSize;
    ok = CryptHashData(hash, data, static_cast<DWORD>(size), 0) &&
         CryptGetHashParam(hash, HP_HASHVAL, digest, &length, 0) && length == kDigestSize;
    CryptDestroyHash(hash);
  }
  CryptReleaseContext(provider, 0);
  return ok;
#else
  unsigned int length = 0;
  return EVP_Digest(data, size, digest, &length, EVP_sha1(), nullptr) == 1 && length == kDigestSize;
#endif
}

int Fail(const std::string& what, const std::string& path) {
  fprintf(stderr, "metatool: %s %s: %s\n", what.c_str(), path.c_str(), strerror(errno));
  return 2;
}

// Hashes FILE block by block; false (with errno set) when it cannot be read.
bool HashFile(const std::string& path, uint64_t* size, std::vector<unsigned char>* digests) {
  FILE* file = fopen(path.c_str(), "rb");
  if (file == nullptr) return false;
  std::vector<unsigned char> block(kBlockSize);
  *size = 0;
  digests->clear();
  for (;;) {
    size_t read = fread(block.data(), 1, kBlockSize, file);
    if (read > 0) {
      unsigned char digest[kDigestSize];
      if (!Sha1(block.data(), read, digest)) {
        fclose(file);
        errno = EIO;
        return false;
      }
      digests->insert(digests->end(), digest, digest + kDigestSize);
      *size += read;
    }
    if (read < kBlockSize) break;
  }
  bool ok = !ferror(file);
  fclose(file);
  if (!ok && errno == 0) errno = EIO;
  return ok;
}

int Create(const std::string& path, const std::string& meta_path) {
  uint64_t size = 0;
  std::vector<unsigned char> digests;
  if (!HashFile(path, &size, &digests)) return Fail("cannot read", path);
  if (digests.size() / kDigestSize >= kMaxBlocks) {
    fprintf(stderr, "metatool: %s is too large (2^26 blocks or more)\n", path.c_str());
    return 2;
  }
  unsigned char header[8];
  for (int i = 0; i < 8; ++i) header[i] = static_cast<unsigned char>(size >> (8 * i));
  FILE* out = fopen(meta_path.c_str(), "wb");
  if (out == nullptr) return Fail("cannot write", meta_path);
  bool ok = fwrite(header, 1, 8, out) == 8 &&
            fwrite(digests.data(), 1, digests.size(), out) == digests.size();
  ok = (fclose(out) == 0) && ok;
  if (!ok) return Fail("cannot write", meta_path);
  printf("%s: %llu bytes, %zu blocks\n", meta_path.c_str(), static_cast<unsigned long long>(size),
         digests.size() / kDigestSize);
  return 0;
}

int Verify(const std::string& path, const std::string& meta_path) {
  FILE* meta_file = fopen(meta_path.c_str(), "rb");
  if (meta_file == nullptr) return Fail("cannot read", meta_path);
  std::vector<unsigned char> meta;
  unsigned char chunk[65536];
  size_t n;
  while ((n = fread(chunk, 1, sizeof(chunk), meta_file)) > 0) meta.insert(meta.end(), chunk, chunk + n);
  bool read_ok = !ferror(meta_file);
  fclose(meta_file);
  if (!read_ok) return Fail("cannot read", meta_path);

  if (meta.size() < 8) {
    fprintf(stderr, "metatool: %s is not a meta file (shorter than 8 bytes)\n", meta_path.c_str());
    return 2;
  }
  uint64_t raw = 0;
  for (int i = 0; i < 8; ++i) raw |= static_cast<uint64_t>(meta[i]) << (8 * i);
  int64_t expected_size = static_cast<int64_t>(raw);
  uint64_t blocks = expected_size < 0 ? 0 : (raw + kBlockSize - 1) / kBlockSize;
  if (expected_size < 0 || blocks >= kMaxBlocks || meta.size() != 8 + kDigestSize * blocks) {
    fprintf(stderr, "metatool: %s is not a valid meta file (size field and length disagree)\n", meta_path.c_str());
    return 2;
  }

  uint64_t size = 0;
  std::vector<unsigned char> digests;
  if (!HashFile(path, &size, &digests)) return Fail("cannot read", path);
  if (size != raw) {
    printf("%s: size %llu, meta says %llu\n", path.c_str(), static_cast<unsigned long long>(size),
           static_cast<unsigned long long>(raw));
    return 1;
  }
  for (uint64_t k = 0; k < blocks; ++k) {
    if (memcmp(digests.data() + k * kDigestSize, meta.data() + 8 + k * kDigestSize, kDigestSize) != 0) {
      printf("%s: block %llu differs\n", path.c_str(), static_cast<unsigned long long>(k));
      return 1;
    }
  }
  printf("%s: %llu blocks verified\n", path.c_str(), static_cast<unsigned long long>(blocks));
  return 0;
}

bool ReadAll(const std::string& path, size_t largest, std::vector<unsigned char>* bytes) {
  FILE* file = fopen(path.c_str(), "rb");
  if (file == nullptr) return false;
  bytes->clear();
  unsigned char chunk[65536];
  size_t n;
  while ((n = fread(chunk, 1, sizeof(chunk), file)) > 0) {
    if (bytes->size() + n > largest) {
      fclose(file);
      errno = EFBIG;
      return false;
    }
    bytes->insert(bytes->end(), chunk, chunk + n);
  }
  bool ok = !ferror(file);
  fclose(file);
  if (!ok && errno == 0) errno = EIO;
  return ok;
}

bool WriteAll(const std::string& path, const std::vector<unsigned char>& bytes) {
  FILE* out = fopen(path.c_str(), "wb");
  if (out == nullptr) return false;
  bool ok = fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
  return (fclose(out) == 0) && ok;
}

// The signature of `data` with the PEM private key `pem`; false with a
// message when the key is not an RSA key of kMinKeyBits or more.
bool SignBytes(const std::string& key_path, const std::vector<unsigned char>& pem,
               const std::vector<unsigned char>& data, std::vector<unsigned char>* signature) {
#ifdef _WIN32
  std::vector<uint8_t> made;
  if (!stubframework::trust::SignWithPemKey(std::string(pem.begin(), pem.end()), data.data(), data.size(), &made)) {
    fprintf(stderr, "metatool: %s: not an RSA private key in PEM (no passphrase)\n", key_path.c_str());
    return false;
  }
  if (made.size() * 8 < kMinKeyBits) {
    fprintf(stderr, "metatool: %s: the key has fewer than %u bits\n", key_path.c_str(), kMinKeyBits);
    return false;
  }
  signature->assign(made.begin(), made.end());
  return true;
#else
  BIO* bio = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
  EVP_PKEY* key = bio != nullptr ? PEM_read_bio_PrivateKey(bio, nullptr, nullptr, const_cast<char*>("")) : nullptr;
  BIO_free(bio);
  if (key == nullptr || EVP_PKEY_base_id(key) != EVP_PKEY_RSA) {
    fprintf(stderr, "metatool: %s: not an RSA private key in PEM (no passphrase)\n", key_path.c_str());
    EVP_PKEY_free(key);
    return false;
  }
  if (EVP_PKEY_bits(key) < static_cast<int>(kMinKeyBits)) {
    fprintf(stderr, "metatool: %s: the key has fewer than %u bits\n", key_path.c_str(), kMinKeyBits);
    EVP_PKEY_free(key);
    return false;
  }
  EVP_MD_CTX* context = EVP_MD_CTX_new();
  size_t length = 0;
  bool ok = context != nullptr && EVP_DigestSignInit(context, nullptr, EVP_sha256(), nullptr, key) == 1 &&
            EVP_DigestSign(context, nullptr, &length, data.data(), data.size()) == 1;
  if (ok) {
    signature->resize(length);
    ok = EVP_DigestSign(context, signature->data(), &length, data.data(), data.size()) == 1;
    signature->resize(length);
  }
  EVP_MD_CTX_free(context);
  EVP_PKEY_free(key);
  if (!ok) fprintf(stderr, "metatool: signing with %s failed\n", key_path.c_str());
  return ok;
#endif
}

// 1: the signature is bad; 2: the public key is unusable; 0: good.
int VerifyBytes(const std::string& key_path, const std::vector<unsigned char>& pem,
                const std::vector<unsigned char>& data, const std::vector<unsigned char>& signature) {
#ifdef _WIN32
  std::vector<uint8_t> der = stubframework::trust::PublicKeyDerFromPem(std::string(pem.begin(), pem.end()));
  if (der.empty()) {
    fprintf(stderr, "metatool: %s: not a PEM public key\n", key_path.c_str());
    return 2;
  }
  const stubframework::trust::ReleaseKey key{der.data(), der.size()};
  return stubframework::trust::VerifyReleaseSignature(key, data.data(), data.size(), signature.data(),
                                                      signature.size())
             ? 0
             : 1;
#else
  BIO* bio = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
  EVP_PKEY* key = bio != nullptr ? PEM_read_bio_PUBKEY(bio, nullptr, nullptr, nullptr) : nullptr;
  BIO_free(bio);
  if (key == nullptr || EVP_PKEY_base_id(key) != EVP_PKEY_RSA) {
    fprintf(stderr, "metatool: %s: not an RSA public key in PEM\n", key_path.c_str());
    EVP_PKEY_free(key);
    return 2;
  }
  // The stub refuses smaller keys: so does the check here.
  bool ok = EVP_PKEY_bits(key) >= static_cast<int>(kMinKeyBits);
  EVP_MD_CTX* context = EVP_MD_CTX_new();
  ok = ok && context != nullptr && EVP_DigestVerifyInit(context, nullptr, EVP_sha256(), nullptr, key) == 1 &&
       EVP_DigestVerify(context, signature.data(), signature.size(), data.data(), data.size()) == 1;
  EVP_MD_CTX_free(context);
  EVP_PKEY_free(key);
  return ok ? 0 : 1;
#endif
}

int Sign(const std::string& key_path, const std::vector<std::string>& files) {
  std::vector<unsigned char> pem;
  if (!ReadAll(key_path, 64 * 1024, &pem)) return Fail("cannot read", key_path);
  for (const std::string& path : files) {
    std::vector<unsigned char> data;
    if (!ReadAll(path, kLargestSignedFile, &data)) return Fail("cannot read", path);
    std::vector<unsigned char> signature;
    if (!SignBytes(key_path, pem, data, &signature)) return 2;
    if (!WriteAll(path + ".sig", signature)) return Fail("cannot write", path + ".sig");
    printf("%s.sig: %zu-byte signature\n", path.c_str(), signature.size());
  }
  return 0;
}

int VerifySignature(const std::string& key_path, const std::string& path) {
  std::vector<unsigned char> pem;
  if (!ReadAll(key_path, 64 * 1024, &pem)) return Fail("cannot read", key_path);
  std::vector<unsigned char> data;
  if (!ReadAll(path, kLargestSignedFile, &data)) return Fail("cannot read", path);
  std::vector<unsigned char> signature;
  if (!ReadAll(path + ".sig", kLargestSignature, &signature)) return Fail("cannot read", path + ".sig");
  int verdict = VerifyBytes(key_path, pem, data, signature);
  if (verdict == 0) printf("%s: signature verified\n", path.c_str());
  if (verdict == 1) printf("%s: signature does not verify\n", path.c_str());
  return verdict;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
    fputs(kUsage, stdout);
    return 0;
  }
  if ((args.size() == 2 || args.size() == 3) && args[0] == "create") {
    return Create(args[1], args.size() == 3 ? args[2] : args[1] + ".meta");
  }
  if (args.size() == 3 && args[0] == "verify") return Verify(args[1], args[2]);
  if (args.size() >= 4 && args[0] == "sign" && args[1] == "--key") {
    return Sign(args[2], std::vector<std::string>(args.begin() + 3, args.end()));
  }
  if (args.size() == 4 && args[0] == "verify-signature" && args[1] == "--key") return VerifySignature(args[2], args[3]);
  fputs(kUsage, stderr);
  return 2;
}
