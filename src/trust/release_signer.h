// Making a release signature with CryptoAPI, for the publisher's tools on
// Windows (metatool.exe) and for tests; the stub itself never signs. The
// signature is the one release_signature.h checks, byte for byte what
// `openssl dgst -sha256 -sign` makes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace stubframework::trust {

// Signs `data` with the RSA private key in `pem` ("PRIVATE KEY", PKCS #8, as
// `openssl genpkey` writes it, or "RSA PRIVATE KEY"; no passphrase). False,
// leaving `signature` empty, when the key cannot be read or the provider fails.
bool SignWithPemKey(const std::string& pem, const uint8_t* data, size_t size, std::vector<uint8_t>* signature);

// The DER SubjectPublicKeyInfo of a PEM "PUBLIC KEY"; empty when it is none.
std::vector<uint8_t> PublicKeyDerFromPem(const std::string& pem);

}  // namespace stubframework::trust
