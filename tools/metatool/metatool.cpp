// metatool: writes and checks the .meta file that the installer's
// block-verified download proves each 1 MiB block against.
//
// Format (little-endian): 8-byte signed file size, then one 20-byte SHA-1
// digest per 1 MiB block in file order; the last block may be shorter.
//
// Builds natively on Linux (OpenSSL's SHA-1) and for Windows (CryptoAPI).
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
#else
#include <openssl/evp.h>
#endif

namespace {

constexpr size_t kBlockSize = 1048576;
constexpr size_t kDigestSize = 20;
constexpr uint64_t kMaxBlocks = 0x4000000;  // the installer refuses 2^26 blocks or more

const char kUsage[] =
    "usage: metatool create FILE [META]   write META (default FILE.meta) for FILE\n"
    "       metatool verify FILE META     check FILE against META\n"
    "       metatool --help\n"
    "\n"
    "A .meta file holds the file's size (8 bytes, little-endian) and the SHA-1\n"
    "of each 1 MiB block. Publish it beside the file as URL + \".meta\"; the\n"
    "installer downloads it first and proves every block it receives.\n"
    "\n"
    "Exit status: 0 success (verify: every block matches), 1 verify found a\n"
    "difference, 2 usage error or unreadable/unwritable input.\n";

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
  fputs(kUsage, stderr);
  return 2;
}
