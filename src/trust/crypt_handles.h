// Owners for CryptoAPI handles and for blocks CryptoAPI allocates with LocalAlloc.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include "base/unique_handle.h"

namespace stubframework::trust {

struct CryptProviderTraits {
  using Type = HCRYPTPROV;
  static Type Invalid() { return 0; }
  static bool IsValid(Type h) { return h != 0; }
  static void Close(Type h) { ::CryptReleaseContext(h, 0); }
};
struct CryptKeyTraits {
  using Type = HCRYPTKEY;
  static Type Invalid() { return 0; }
  static bool IsValid(Type h) { return h != 0; }
  static void Close(Type h) { ::CryptDestroyKey(h); }
};
struct CryptHashTraits {
  using Type = HCRYPTHASH;
  static Type Invalid() { return 0; }
  static bool IsValid(Type h) { return h != 0; }
  static void Close(Type h) { ::CryptDestroyHash(h); }
};
struct CertStoreTraits {
  using Type = HCERTSTORE;
  static Type Invalid() { return nullptr; }
  static bool IsValid(Type h) { return h != nullptr; }
  static void Close(Type h) { ::CertCloseStore(h, 0); }
};
struct CryptMsgTraits {
  using Type = HCRYPTMSG;
  static Type Invalid() { return nullptr; }
  static bool IsValid(Type h) { return h != nullptr; }
  static void Close(Type h) { ::CryptMsgClose(h); }
};
struct CertContextTraits {
  using Type = PCCERT_CONTEXT;
  static Type Invalid() { return nullptr; }
  static bool IsValid(Type h) { return h != nullptr; }
  static void Close(Type h) { ::CertFreeCertificateContext(h); }
};

using CryptProvider = base::UniqueResource<CryptProviderTraits>;
using CryptKey = base::UniqueResource<CryptKeyTraits>;
using CryptHash = base::UniqueResource<CryptHashTraits>;
using CertStore = base::UniqueResource<CertStoreTraits>;
using CryptMsg = base::UniqueResource<CryptMsgTraits>;
using CertContext = base::UniqueResource<CertContextTraits>;

// A block that CryptDecodeObjectEx allocated (CRYPT_DECODE_ALLOC_FLAG).
template <typename T>
class LocalBlock {
 public:
  LocalBlock() = default;
  ~LocalBlock() {
    if (block_ != nullptr) ::LocalFree(block_);
  }
  LocalBlock(const LocalBlock&) = delete;
  LocalBlock& operator=(const LocalBlock&) = delete;

  // Where the decoder writes the block's address.
  void* Receive() { return &block_; }
  T* Get() const { return static_cast<T*>(block_); }

 private:
  void* block_ = nullptr;
};

}  // namespace stubframework::trust
