#include "trust/certificate_table.h"

namespace stubframework::trust {
namespace {

constexpr size_t kDosLfanew = 0x3C;
constexpr size_t kFileHeaderSize = 20;
constexpr uint16_t kPe32 = 0x10B;
constexpr uint16_t kPe32Plus = 0x20B;
constexpr size_t kSecurityDirectory = 4;
constexpr size_t kWinCertificateHeader = 8;  // dwLength, wRevision, wCertificateType
constexpr uint16_t kRevision2 = 0x0200;
constexpr uint16_t kPkcsSignedData = 0x0002;
constexpr size_t kAlignment = 8;

uint16_t Read16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t Read32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}

// The length of the DER element at `p` (header included); 0 when it does not
// parse within `size` bytes.
size_t DerLength(const uint8_t* p, size_t size) {
  if (size < 2 || p[0] != 0x30) return 0;
  size_t length = p[1];
  size_t header = 2;
  if (length & 0x80) {
    const size_t count = length & 0x7F;
    if (count == 0 || count > 4 || 2 + count > size) return 0;
    length = 0;
    for (size_t i = 0; i < count; ++i) length = (length << 8) | p[2 + i];
    header += count;
  }
  return length > size - header ? 0 : header + length;
}

bool AllZero(const uint8_t* p, size_t size) {
  for (size_t i = 0; i < size; ++i) {
    if (p[i] != 0) return false;
  }
  return true;
}

}  // namespace

CertificateTable ReadCertificateTable(const uint8_t* image, size_t size) {
  CertificateTable table;
  if (image == nullptr || size < kDosLfanew + 4 || image[0] != 'M' || image[1] != 'Z') return table;
  const size_t pe = Read32(image + kDosLfanew);
  if (pe > size || size - pe < 4 + kFileHeaderSize + 2 || Read32(image + pe) != 0x00004550) return table;
  const size_t optional = pe + 4 + kFileHeaderSize;
  const size_t optional_size = Read16(image + pe + 4 + 16);
  if (optional_size > size - optional) return table;
  const uint16_t magic = Read16(image + optional);
  size_t directories = 0;
  if (magic == kPe32) {
    directories = 96;
  } else if (magic == kPe32Plus) {
    directories = 112;
  } else {
    return table;
  }
  if (optional_size < directories) return table;
  const uint32_t count = Read32(image + optional + directories - 4);  // NumberOfRvaAndSizes
  const size_t entry = directories + kSecurityDirectory * 8;
  if (count <= kSecurityDirectory || optional_size < entry + 8) {
    table.verdict = TableVerdict::kUnsigned;
    return table;
  }
  const size_t offset = Read32(image + optional + entry);  // a file offset for this directory
  const size_t length = Read32(image + optional + entry + 4);
  if (offset == 0 && length == 0) {
    table.verdict = TableVerdict::kUnsigned;
    return table;
  }
  table.verdict = TableVerdict::kLoose;
  // The table ends the file and holds one aligned entry exactly.
  if (offset > size || length != size - offset || length < kWinCertificateHeader || offset % kAlignment != 0) {
    return table;
  }
  const uint8_t* entry_bytes = image + offset;
  const size_t entry_length = Read32(entry_bytes);
  if (entry_length < kWinCertificateHeader || entry_length > length || length - entry_length >= kAlignment) {
    return table;
  }
  if (Read16(entry_bytes + 4) != kRevision2 || Read16(entry_bytes + 6) != kPkcsSignedData) return table;
  if (!AllZero(entry_bytes + entry_length, length - entry_length)) return table;
  // Inside the entry: the SignedData, then at most the zeros that align it.
  const size_t blob_size = entry_length - kWinCertificateHeader;
  const size_t der = DerLength(entry_bytes + kWinCertificateHeader, blob_size);
  if (der == 0 || blob_size - der >= kAlignment || !AllZero(entry_bytes + kWinCertificateHeader + der, blob_size - der)) {
    return table;
  }
  table.verdict = TableVerdict::kTight;
  table.signature_offset = offset + kWinCertificateHeader;
  table.signature_size = der;
  return table;
}

}  // namespace stubframework::trust
