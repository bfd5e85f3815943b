// SHA-1 for many digests with one context. On a CPU with the x86 SHA
// extensions the context hashes with them (sha1_blocks.h); elsewhere through
// CryptoAPI, with one provider context: acquiring it loads the provider and
// costs milliseconds, so a hash pass acquires one (on first use) and hashes
// every block with it. The choice is made when the context is made.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <cstddef>

#include "downloader/interfaces.h"
#include "downloader/sha1_blocks.h"

namespace stubframework::downloader {

class Sha1Context {
 public:
  enum Path { kBest, kCryptoApi, kShaExtensions };

  // kBest: the SHA extensions where the CPU has them, else CryptoAPI. Asking
  // for kShaExtensions on a CPU without them gets CryptoAPI.
  explicit Sha1Context(Path path = kBest);
  ~Sha1Context();
  Sha1Context(const Sha1Context&) = delete;
  Sha1Context& operator=(const Sha1Context&) = delete;

  // SHA-1 of `size` bytes; false when the provider fails.
  bool Digest(const uint8* data, size_t size, uint8 digest[kDigestSize]);

  // A digest over several pieces: Begin, Add for each, End. False when the
  // provider fails; End after a failed step fails too.
  bool Begin();
  bool Add(const uint8* data, size_t size);
  bool End(uint8 digest[kDigestSize]);

  // What this context hashes with: kCryptoApi or kShaExtensions.
  Path path() const { return path_; }

 private:
  bool Acquire();
  void DropHash();

  Path path_;
  HCRYPTPROV provider_ = 0;
  HCRYPTHASH hash_ = 0;
  bool streaming_ = false;  // kShaExtensions: between Begin and End
  Sha1Stream stream_;
};

// SHA-1 of `size` bytes with a context of its own.
bool Sha1(const uint8* data, size_t size, uint8 digest[kDigestSize]);

}  // namespace stubframework::downloader
