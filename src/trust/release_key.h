// The publisher's release key: the public half that signs every .meta and
// the component list. A key with no bytes means the build has none.
#pragma once

#include <cstddef>

#include "identity/product_identity.h"

namespace stubframework::trust {

struct ReleaseKey {
  const unsigned char* der = nullptr;  // DER SubjectPublicKeyInfo; not owned, outlives every user
  size_t size = 0;

  bool present() const { return der != nullptr && size > 0; }
};

// The key this build carries (STUB_RELEASE_PUBLIC_KEY).
inline ReleaseKey ProductReleaseKey() {
  return ReleaseKey{identity::kReleasePublicKeySize > 0 ? identity::kReleasePublicKey : nullptr,
                    identity::kReleasePublicKeySize};
}

}  // namespace stubframework::trust
