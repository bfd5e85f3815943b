#include "downloader/sha1_context.h"

namespace stubframework::downloader {

Sha1Context::Sha1Context(Path path)
    : path_(path != kCryptoApi && Sha1ExtensionsAvailable() ? kShaExtensions : kCryptoApi) {}

Sha1Context::~Sha1Context() {
  DropHash();
  if (provider_ != 0) ::CryptReleaseContext(provider_, 0);
}

bool Sha1Context::Acquire() {
  if (provider_ != 0) return true;
  if (::CryptAcquireContextW(&provider_, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT)) return true;
  provider_ = 0;
  return false;
}

void Sha1Context::DropHash() {
  if (hash_ != 0) ::CryptDestroyHash(hash_);
  hash_ = 0;
}

bool Sha1Context::Begin() {
  if (path_ == kShaExtensions) {
    Sha1StreamBegin(stream_);
    streaming_ = true;
    return true;
  }
  DropHash();
  if (!Acquire()) return false;
  if (::CryptCreateHash(provider_, CALG_SHA1, 0, 0, &hash_)) return true;
  hash_ = 0;
  return false;
}

bool Sha1Context::Add(const uint8* data, size_t size) {
  if (path_ == kShaExtensions) {
    if (streaming_) Sha1StreamAdd(stream_, data, size);
    return streaming_;
  }
  if (hash_ == 0) return false;
  if (::CryptHashData(hash_, data, static_cast<DWORD>(size), 0)) return true;
  DropHash();
  return false;
}

bool Sha1Context::End(uint8 digest[kDigestSize]) {
  if (path_ == kShaExtensions) {
    if (!streaming_) return false;
    Sha1StreamEnd(stream_, digest);
    streaming_ = false;
    return true;
  }
  if (hash_ == 0) return false;
  DWORD length = static_cast<DWORD>(kDigestSize);
  bool ok = ::CryptGetHashParam(hash_, HP_HASHVAL, digest, &length, 0) && length == kDigestSize;
  DropHash();
  return ok;
}

bool Sha1Context::Digest(const uint8* data, size_t size, uint8 digest[kDigestSize]) {
  return Begin() && Add(data, size) && End(digest);
}

bool Sha1(const uint8* data, size_t size, uint8 digest[kDigestSize]) {
  Sha1Context context;
  return context.Digest(data, size, digest);
}

}  // namespace stubframework::downloader
