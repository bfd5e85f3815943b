// Where a PE image's Authenticode signature lies, and whether its certificate
// table holds that signature and nothing else. The signature does not cover
// the table, so bytes hidden there (or after it) would ride along with a
// valid signature; a table that is not tight is refused.
#pragma once

#include <cstddef>
#include <cstdint>

namespace stubframework::trust {

enum class TableVerdict {
  kTight,        // one PKCS #7 signature, at most 7 zero bytes of alignment, at the end of the file
  kUnsigned,     // no certificate table
  kNotAnImage,   // no PE header where the DOS header points
  kLoose,        // anything more: bytes after the table, a longer entry, non-zero padding, a second entry
};

struct CertificateTable {
  TableVerdict verdict = TableVerdict::kNotAnImage;
  size_t signature_offset = 0;  // the PKCS #7 SignedData (kTight only)
  size_t signature_size = 0;
};

// Reads the headers and the table of a whole image of `size` bytes.
CertificateTable ReadCertificateTable(const uint8_t* image, size_t size);

}  // namespace stubframework::trust
