// A release key pair for tests that need signed files: key A of the vectors
// (tests/trust/make_vectors.sh), read once per test; the public half as the
// stub takes it, the private half to sign with as a release pipeline does.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "trust/release_key.h"
#include "trust/release_signer.h"

namespace testsupport {

class TestReleaseKey {
 public:
  TestReleaseKey() {
    private_pem_ = Read(std::string(TRUST_VECTORS) + "\\key_a.pem");
    public_der_ = stubframework::trust::PublicKeyDerFromPem(Read(std::string(TRUST_VECTORS) + "\\key_a_public.pem"));
  }
  stubframework::trust::ReleaseKey key() const {
    return stubframework::trust::ReleaseKey{public_der_.data(), public_der_.size()};
  }
  std::string Sign(const std::string& bytes) const {
    std::vector<uint8_t> signature;
    EXPECT_TRUE(stubframework::trust::SignWithPemKey(private_pem_, reinterpret_cast<const uint8_t*>(bytes.data()),
                                                     bytes.size(), &signature));
    return std::string(signature.begin(), signature.end());
  }

 private:
  static std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    EXPECT_TRUE(in.good()) << path;
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  std::string private_pem_;
  std::vector<uint8_t> public_der_;
};

}  // namespace testsupport
