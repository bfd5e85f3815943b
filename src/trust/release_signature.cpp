#include "trust/release_signature.h"

#include <windows.h>
#include <wincrypt.h>

#include <algorithm>
#include <vector>

#include "trust/crypt_handles.h"

namespace stubframework::trust {
namespace {

// CryptHashData takes a DWORD count; feed large inputs in pieces.
constexpr size_t kHashPiece = 1u << 30;

}  // namespace

bool VerifyReleaseSignature(const ReleaseKey& key, const uint8_t* data, size_t size, const uint8_t* signature,
                            size_t signature_size) {
  if (!key.present() || signature == nullptr || signature_size == 0 || signature_size > kMaxSignatureSize) return false;
  if (data == nullptr && size > 0) return false;
  if (key.size > kMaxSignatureSize * 2) return false;

  LocalBlock<CERT_PUBLIC_KEY_INFO> info;
  DWORD info_size = 0;
  if (!::CryptDecodeObjectEx(X509_ASN_ENCODING, X509_PUBLIC_KEY_INFO, key.der, static_cast<DWORD>(key.size),
                             CRYPT_DECODE_ALLOC_FLAG, nullptr, info.Receive(), &info_size)) {
    return false;
  }
  if (info.Get()->Algorithm.pszObjId == nullptr || lstrcmpA(info.Get()->Algorithm.pszObjId, szOID_RSA_RSA) != 0) {
    return false;
  }
  CryptProvider provider;
  if (!::CryptAcquireContextW(provider.Receive(), nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT)) return false;
  CryptKey public_key;
  if (!::CryptImportPublicKeyInfo(provider.Get(), X509_ASN_ENCODING, info.Get(), public_key.Receive())) return false;
  DWORD bits = 0;
  DWORD bits_size = sizeof(bits);
  if (!::CryptGetKeyParam(public_key.Get(), KP_KEYLEN, reinterpret_cast<BYTE*>(&bits), &bits_size, 0)) return false;
  if (bits < kMinReleaseKeyBits || signature_size != (bits + 7) / 8) return false;

  CryptHash hash;
  if (!::CryptCreateHash(provider.Get(), CALG_SHA_256, 0, 0, hash.Receive())) return false;
  for (size_t done = 0; done < size;) {
    const DWORD piece = static_cast<DWORD>(std::min(kHashPiece, size - done));
    if (!::CryptHashData(hash.Get(), data + done, piece, 0)) return false;
    done += piece;
  }
  // CryptoAPI reads the signature least significant byte first.
  std::vector<BYTE> reversed(signature, signature + signature_size);
  std::reverse(reversed.begin(), reversed.end());
  return ::CryptVerifySignatureW(hash.Get(), reversed.data(), static_cast<DWORD>(reversed.size()), public_key.Get(),
                                 nullptr, 0) != FALSE;
}

}  // namespace stubframework::trust
