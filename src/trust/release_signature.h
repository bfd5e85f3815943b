// Checking a detached release signature: RSA (3072 bits or more), PKCS #1
// v1.5, SHA-256, the signature as the big-endian bytes that
//   openssl dgst -sha256 -sign release_key.pem -out FILE.sig FILE
// writes. Verified with CryptoAPI, present on every supported system.
#pragma once

#include <cstddef>
#include <cstdint>

#include "trust/release_key.h"

namespace stubframework::trust {

// The smallest key the stub accepts, in bits.
inline constexpr unsigned kMinReleaseKeyBits = 3072;
// The largest signature read from anywhere: that of a 16384-bit key.
inline constexpr size_t kMaxSignatureSize = 2048;

// True only when `key` is an RSA key of kMinReleaseKeyBits or more and
// `signature` is its signature over exactly `data`. A missing key, a
// signature of another length, or any failure of the provider is false.
bool VerifyReleaseSignature(const ReleaseKey& key, const uint8_t* data, size_t size, const uint8_t* signature,
                            size_t signature_size);

}  // namespace stubframework::trust
