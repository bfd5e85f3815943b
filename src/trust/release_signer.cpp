#include "trust/release_signer.h"

#include <windows.h>
#include <wincrypt.h>

#include <algorithm>
#include <cstring>

#include "trust/crypt_handles.h"

namespace stubframework::trust {
namespace {

constexpr size_t kLargestPem = 64 * 1024;

// The DER of the first PEM block whose label is `label`.
std::vector<uint8_t> PemBlock(const std::string& pem, const std::string& label) {
  const std::string begin = "-----BEGIN " + label + "-----";
  const std::string end = "-----END " + label + "-----";
  if (pem.size() > kLargestPem) return {};
  size_t start = pem.find(begin);
  size_t stop = start == std::string::npos ? std::string::npos : pem.find(end, start);
  if (stop == std::string::npos) return {};
  const std::string block = pem.substr(start, stop + end.size() - start);
  DWORD size = 0;
  if (!::CryptStringToBinaryA(block.c_str(), static_cast<DWORD>(block.size()), CRYPT_STRING_BASE64HEADER, nullptr,
                              &size, nullptr, nullptr)) {
    return {};
  }
  std::vector<uint8_t> der(size);
  if (!::CryptStringToBinaryA(block.c_str(), static_cast<DWORD>(block.size()), CRYPT_STRING_BASE64HEADER, der.data(),
                              &size, nullptr, nullptr)) {
    return {};
  }
  der.resize(size);
  return der;
}

// The PRIVATEKEYBLOB of an RSAPrivateKey.
std::vector<uint8_t> RsaPrivateKeyBlob(const uint8_t* der, size_t size) {
  DWORD blob_size = 0;
  if (!::CryptDecodeObjectEx(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, PKCS_RSA_PRIVATE_KEY, der,
                             static_cast<DWORD>(size), 0, nullptr, nullptr, &blob_size)) {
    return {};
  }
  std::vector<uint8_t> blob(blob_size);
  if (!::CryptDecodeObjectEx(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, PKCS_RSA_PRIVATE_KEY, der,
                             static_cast<DWORD>(size), 0, nullptr, blob.data(), &blob_size)) {
    return {};
  }
  blob.resize(blob_size);
  return blob;
}

// One DER element at `at`: its tag, and its contents [start, end). False when
// it does not fit in `size` bytes.
struct DerElement {
  uint8_t tag = 0;
  size_t start = 0;
  size_t end = 0;
};

bool ReadDer(const uint8_t* der, size_t size, size_t at, DerElement* element) {
  if (at + 2 > size) return false;
  element->tag = der[at];
  size_t length = der[at + 1];
  size_t start = at + 2;
  if (length & 0x80) {
    const size_t count = length & 0x7F;
    if (count == 0 || count > 4 || start + count > size) return false;
    length = 0;
    for (size_t i = 0; i < count; ++i) length = (length << 8) | der[start + i];
    start += count;
  }
  if (length > size - start) return false;
  element->start = start;
  element->end = start + length;
  return true;
}

// The RSAPrivateKey inside a PKCS #8 PrivateKeyInfo: SEQUENCE { INTEGER,
// SEQUENCE { OID rsaEncryption, ... }, OCTET STRING { RSAPrivateKey } }.
// (Wine's crypt32 does not decode PKCS_PRIVATE_KEY_INFO; the walk is short.)
bool RsaKeyOfPkcs8(const std::vector<uint8_t>& der, size_t* start, size_t* end) {
  static const uint8_t kRsaOid[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01, 0x01};
  DerElement outer, version, algorithm, oid, key;
  if (!ReadDer(der.data(), der.size(), 0, &outer) || outer.tag != 0x30) return false;
  if (!ReadDer(der.data(), outer.end, outer.start, &version) || version.tag != 0x02) return false;
  if (!ReadDer(der.data(), outer.end, version.end, &algorithm) || algorithm.tag != 0x30) return false;
  if (!ReadDer(der.data(), algorithm.end, algorithm.start, &oid) || oid.tag != 0x06) return false;
  if (oid.end - oid.start != sizeof(kRsaOid) || std::memcmp(der.data() + oid.start, kRsaOid, sizeof(kRsaOid)) != 0) {
    return false;
  }
  if (!ReadDer(der.data(), outer.end, algorithm.end, &key) || key.tag != 0x04) return false;
  *start = key.start;
  *end = key.end;
  return true;
}

std::vector<uint8_t> PrivateKeyBlobFromPem(const std::string& pem) {
  std::vector<uint8_t> rsa = PemBlock(pem, "RSA PRIVATE KEY");
  if (!rsa.empty()) return RsaPrivateKeyBlob(rsa.data(), rsa.size());
  std::vector<uint8_t> pkcs8 = PemBlock(pem, "PRIVATE KEY");
  size_t start = 0;
  size_t end = 0;
  if (!RsaKeyOfPkcs8(pkcs8, &start, &end)) return {};
  return RsaPrivateKeyBlob(pkcs8.data() + start, end - start);
}

}  // namespace

bool SignWithPemKey(const std::string& pem, const uint8_t* data, size_t size, std::vector<uint8_t>* signature) {
  signature->clear();
  std::vector<uint8_t> blob = PrivateKeyBlobFromPem(pem);
  if (blob.size() < sizeof(BLOBHEADER)) return false;
  // As a signature key, so that CryptSignHash finds it under AT_SIGNATURE.
  reinterpret_cast<BLOBHEADER*>(blob.data())->aiKeyAlg = CALG_RSA_SIGN;
  CryptProvider provider;
  if (!::CryptAcquireContextW(provider.Receive(), nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT)) return false;
  CryptKey key;
  if (!::CryptImportKey(provider.Get(), blob.data(), static_cast<DWORD>(blob.size()), 0, 0, key.Receive())) {
    return false;
  }
  CryptHash hash;
  if (!::CryptCreateHash(provider.Get(), CALG_SHA_256, 0, 0, hash.Receive())) return false;
  if (size > MAXDWORD || !::CryptHashData(hash.Get(), data, static_cast<DWORD>(size), 0)) return false;
  DWORD length = 0;
  if (!::CryptSignHashW(hash.Get(), AT_SIGNATURE, nullptr, 0, nullptr, &length)) return false;
  std::vector<uint8_t> made(length);
  if (!::CryptSignHashW(hash.Get(), AT_SIGNATURE, nullptr, 0, made.data(), &length)) return false;
  made.resize(length);
  // CryptoAPI writes it least significant byte first; openssl, the other way.
  std::reverse(made.begin(), made.end());
  *signature = std::move(made);
  return true;
}

std::vector<uint8_t> PublicKeyDerFromPem(const std::string& pem) { return PemBlock(pem, "PUBLIC KEY"); }

}  // namespace stubframework::trust
