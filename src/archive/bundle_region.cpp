#include "archive/bundle_region.h"

#include <algorithm>

#include "archive/zip_format.h"

namespace stubframework::archive {

namespace {

using format::ReadLe16;
using format::ReadLe32;

constexpr uint64_t kDosHeaderSize = 64;
constexpr uint64_t kPeHeaderOffsetField = 0x3C;
constexpr uint32_t kPeSignature = 0x00004550;  // "PE\0\0"
constexpr uint64_t kCoffHeaderSize = 20;       // after the signature
constexpr uint64_t kCoffSectionCount = 2;
constexpr uint64_t kCoffOptionalHeaderSize = 16;
constexpr uint16_t kMagicPe32 = 0x10B;
constexpr uint16_t kMagicPe32Plus = 0x20B;
constexpr uint64_t kOptionalSizeOfHeaders = 60;
// The directory count and the directories follow 96 bytes of PE32 fields, 112 of PE32+.
constexpr uint64_t kPe32DirectoriesAt = 96;
constexpr uint64_t kPe32PlusDirectoriesAt = 112;
constexpr uint32_t kSecurityDirectory = 4;
constexpr uint64_t kDirectoryEntrySize = 8;
constexpr uint64_t kSectionHeaderSize = 40;
constexpr uint64_t kSectionRawSize = 16;
constexpr uint64_t kSectionRawPointer = 20;
// The loader refuses more sections than this; the bound keeps the walk short.
constexpr uint32_t kMaxSections = 96;
constexpr uint64_t kWinCertificateHeaderSize = 8;
// Nested signatures live inside the first blob; a handful of records is
// already more than any signing tool writes.
constexpr int kMaxCertificateRecords = 8;
// ASN.1 DER: SEQUENCE, then a short or long (up to four bytes) length.
constexpr uint8_t kDerSequence = 0x30;
constexpr uint64_t kDerHeaderMax = 6;

uint64_t AlignUp(uint64_t value) {
  return (value + kCertificateAlignment - 1) / kCertificateAlignment * kCertificateAlignment;
}

// Reads size bytes at offset when they lie inside the file.
class BoundedReader {
 public:
  BoundedReader(uint64_t file_size, const ReadAtFunction& read) : file_size_(file_size), read_(read) {}

  bool Inside(uint64_t offset, uint64_t size) const { return offset <= file_size_ && size <= file_size_ - offset; }

  // kNotAnImage (or the caller's outside fault) when the bytes lie outside.
  BundleFault Read(uint64_t offset, void* buffer, size_t size, BundleFault outside) const {
    if (!Inside(offset, size)) return outside;
    return read_(offset, buffer, size) ? BundleFault::kNone : BundleFault::kUnreadable;
  }

  bool AllZero(uint64_t offset, uint64_t size) const {
    if (size == 0) return true;
    uint8_t bytes[kCertificateAlignment];
    if (size > sizeof(bytes) || !read_(offset, bytes, static_cast<size_t>(size))) return false;
    return std::all_of(bytes, bytes + size, [](uint8_t b) { return b == 0; });
  }

 private:
  uint64_t file_size_;
  const ReadAtFunction& read_;
};

struct ImageLayout {
  uint64_t image_end = 0;
  uint32_t certificate_offset = 0;
  uint32_t certificate_size = 0;
};

BundleFault ReadImageLayout(const BoundedReader& file, ImageLayout* layout) {
  constexpr BundleFault kOutside = BundleFault::kNotAnImage;
  uint8_t dos[kDosHeaderSize];
  if (BundleFault f = file.Read(0, dos, sizeof(dos), kOutside); f != BundleFault::kNone) return f;
  if (dos[0] != 'M' || dos[1] != 'Z') return kOutside;
  const uint64_t pe = ReadLe32(dos + kPeHeaderOffsetField);

  uint8_t coff[4 + kCoffHeaderSize];
  if (BundleFault f = file.Read(pe, coff, sizeof(coff), kOutside); f != BundleFault::kNone) return f;
  if (ReadLe32(coff) != kPeSignature) return kOutside;
  const uint32_t section_count = ReadLe16(coff + 4 + kCoffSectionCount);
  const uint64_t optional_size = ReadLe16(coff + 4 + kCoffOptionalHeaderSize);
  if (section_count > kMaxSections) return kOutside;
  const uint64_t optional = pe + sizeof(coff);

  // The fields read here all lie within the PE32+ directories' reach.
  uint8_t header[kPe32PlusDirectoriesAt + (kSecurityDirectory + 1) * kDirectoryEntrySize] = {};
  const uint64_t available = std::min<uint64_t>(optional_size, sizeof(header));
  if (available < kPe32DirectoriesAt) return kOutside;
  if (BundleFault f = file.Read(optional, header, static_cast<size_t>(available), kOutside); f != BundleFault::kNone) {
    return f;
  }
  const uint16_t magic = ReadLe16(header);
  if (magic != kMagicPe32 && magic != kMagicPe32Plus) return kOutside;
  const uint64_t directories = magic == kMagicPe32 ? kPe32DirectoriesAt : kPe32PlusDirectoriesAt;
  if (available < directories) return kOutside;
  const uint32_t directory_count = ReadLe32(header + directories - 4);
  const uint64_t security = directories + kSecurityDirectory * kDirectoryEntrySize;
  if (directory_count > kSecurityDirectory && security + kDirectoryEntrySize <= available) {
    layout->certificate_offset = ReadLe32(header + security);
    layout->certificate_size = ReadLe32(header + security + 4);
  }

  uint64_t image_end = ReadLe32(header + kOptionalSizeOfHeaders);
  const uint64_t sections = optional + optional_size;
  for (uint32_t i = 0; i < section_count; ++i) {
    uint8_t section[kSectionHeaderSize];
    BundleFault f = file.Read(sections + i * kSectionHeaderSize, section, sizeof(section), kOutside);
    if (f != BundleFault::kNone) return f;
    const uint64_t raw_size = ReadLe32(section + kSectionRawSize);
    if (raw_size != 0) image_end = std::max(image_end, ReadLe32(section + kSectionRawPointer) + raw_size);
  }
  if (!file.Inside(0, image_end)) return kOutside;
  layout->image_end = image_end;
  return BundleFault::kNone;
}

// Total length of the DER element at the start of blob (at most
// kDerHeaderMax bytes of it), or 0 when it is not a definite-length SEQUENCE.
uint64_t DerSequenceLength(const uint8_t* blob, uint64_t available) {
  if (available < 2 || blob[0] != kDerSequence) return 0;
  if (blob[1] < 0x80) return 2 + blob[1];
  const uint64_t length_bytes = blob[1] & 0x7F;
  if (length_bytes == 0 || length_bytes > 4 || available < 2 + length_bytes) return 0;
  uint64_t length = 0;
  for (uint64_t i = 0; i < length_bytes; ++i) length = (length << 8) | blob[2 + i];
  return 2 + length_bytes + length;
}

// Every record of the table [offset, end): a WIN_CERTIFICATE of revision 2
// holding PKCS#7 signed data whose DER length accounts for the record, and
// nothing after the blob but zeros up to the next 8-byte boundary.
BundleFault CheckCertificateRecords(const BoundedReader& file, uint64_t offset, uint64_t end) {
  int records = 0;
  while (offset < end) {
    if (++records > kMaxCertificateRecords) return BundleFault::kCertificateTableHoldsMore;
    uint8_t head[kWinCertificateHeaderSize + kDerHeaderMax] = {};
    const uint64_t readable = std::min<uint64_t>(sizeof(head), end - offset);
    if (readable < kWinCertificateHeaderSize) return BundleFault::kCertificateRecordMalformed;
    if (BundleFault f = file.Read(offset, head, static_cast<size_t>(readable), BundleFault::kCertificateTableMisplaced);
        f != BundleFault::kNone) {
      return f;
    }
    const uint64_t length = ReadLe32(head);
    if (ReadLe16(head + 4) != kCertificateRevision2 || ReadLe16(head + 6) != kCertificateTypePkcsSignedData) {
      return BundleFault::kCertificateRecordMalformed;
    }
    if (length <= kWinCertificateHeaderSize || length > end - offset) return BundleFault::kCertificateRecordMalformed;
    const uint64_t blob =
        DerSequenceLength(head + kWinCertificateHeaderSize, readable - kWinCertificateHeaderSize);
    if (blob == 0 || kWinCertificateHeaderSize + blob > length) return BundleFault::kCertificateRecordMalformed;
    // The record's length may count the alignment or not; either way it ends
    // at the boundary after its blob, and what lies between is zero.
    const uint64_t used = kWinCertificateHeaderSize + blob;
    const uint64_t next = std::min(AlignUp(used), end - offset);
    if (length > AlignUp(used)) return BundleFault::kCertificateTableHoldsMore;
    if (!file.AllZero(offset + used, next - used)) return BundleFault::kCertificateTableHoldsMore;
    offset += next;
  }
  return BundleFault::kNone;
}

}  // namespace

const wchar_t* BundleFaultText(BundleFault fault) {
  switch (fault) {
    case BundleFault::kNone: return L"the bundle was found";
    case BundleFault::kUnreadable: return L"the executable could not be read";
    case BundleFault::kNotAnImage: return L"the executable's PE headers are not sound";
    case BundleFault::kCertificateTableMisplaced: return L"the certificate table is not after the image on an 8-byte boundary";
    case BundleFault::kBytesAfterCertificateTable: return L"bytes follow the certificate table";
    case BundleFault::kCertificateRecordMalformed: return L"a certificate record is not a PKCS#7 signature";
    case BundleFault::kCertificateTableHoldsMore: return L"the certificate table holds more than its signatures";
    case BundleFault::kNoArchive: return L"no archive lies before the certificate table or the end of the file";
    case BundleFault::kArchiveNotAtRegionEnd: return L"the archive is not followed directly by the certificate table or the end of the file";
  }
  return L"unknown";
}

BundleFault LocateBundleRegion(uint64_t file_size, const ReadAtFunction& read, BundleRegion* region) {
  BoundedReader file(file_size, read);
  ImageLayout layout;
  if (BundleFault f = ReadImageLayout(file, &layout); f != BundleFault::kNone) return f;

  if (layout.certificate_size == 0) {
    if (layout.certificate_offset != 0) return BundleFault::kCertificateTableMisplaced;
    *region = BundleRegion{layout.image_end, file_size, false};
    return BundleFault::kNone;
  }
  const uint64_t table = layout.certificate_offset;
  const uint64_t table_end = table + layout.certificate_size;
  if (table < layout.image_end || table % kCertificateAlignment != 0 || table_end > file_size) {
    return BundleFault::kCertificateTableMisplaced;
  }
  if (table_end != file_size) return BundleFault::kBytesAfterCertificateTable;
  if (BundleFault f = CheckCertificateRecords(file, table, table_end); f != BundleFault::kNone) return f;
  *region = BundleRegion{layout.image_end, table, true};
  return BundleFault::kNone;
}

BundleFault OpenBundle(uint64_t file_size, const ReadAtFunction& read, ZipReader* reader) {
  BundleRegion region;
  if (BundleFault f = LocateBundleRegion(file_size, read, &region); f != BundleFault::kNone) return f;
  const uint64_t begin = region.begin;
  const uint64_t size = region.end - region.begin;
  ReadAtFunction view = [read, begin, size](uint64_t offset, void* buffer, size_t length) {
    if (offset > size || length > size - offset) return false;
    return read(begin + offset, buffer, length);
  };
  if (!reader->Open(size, view)) return BundleFault::kNoArchive;
  const uint64_t archive_end = reader->archive_end();
  if (archive_end > size || size - archive_end > kMaxBundlePadding) return BundleFault::kArchiveNotAtRegionEnd;
  BoundedReader bounded(size, view);
  if (!bounded.AllZero(archive_end, size - archive_end)) return BundleFault::kArchiveNotAtRegionEnd;
  return BundleFault::kNone;
}

}  // namespace stubframework::archive
