#include "downloader/sha1_context.h"

namespace stubframework::downloader {

Sha1Context::Sha1Context() {
  if (!::CryptAcquireContextW(&provider_, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT)) provider_ = 0;
}

Sha1Context::~Sha1Context() {
  if (provider_ != 0) ::CryptReleaseContext(provider_, 0);
}

bool Sha1Context::Digest(const uint8* data, size_t size, uint8 digest[kDigestSize]) {
  if (provider_ == 0) return false;
  HCRYPTHASH hash = 0;
  if (!::CryptCreateHash(provider_, CALG_SHA1, 0, 0, &hash)) return false;
  DWORD length = static_cast<DWORD>(kDigestSize);
  bool ok = ::CryptHashData(hash, data, static_cast<DWORD>(size), 0) &&
            ::CryptGetHashParam(hash, HP_HASHVAL, digest, &length, 0) && length == kDigestSize;
  ::CryptDestroyHash(hash);
  return ok;
}

bool Sha1(const uint8* data, size_t size, uint8 digest[kDigestSize]) {
  Sha1Context context;
  return context.Digest(data, size, digest);
}

}  // namespace stubframework::downloader
