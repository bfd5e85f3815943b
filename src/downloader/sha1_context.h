// SHA-1 through CryptoAPI with one provider context for many digests.
// Acquiring a context loads the provider and costs milliseconds; a hash pass
// acquires one (on first use) and hashes every block with it.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <cstddef>

#include "downloader/interfaces.h"

namespace stubframework::downloader {

class Sha1Context {
 public:
  Sha1Context() = default;
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

 private:
  bool Acquire();
  void DropHash();

  HCRYPTPROV provider_ = 0;
  HCRYPTHASH hash_ = 0;
};

// SHA-1 of `size` bytes with a context of its own.
bool Sha1(const uint8* data, size_t size, uint8 digest[kDigestSize]);

}  // namespace stubframework::downloader
