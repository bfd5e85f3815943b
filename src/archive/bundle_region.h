// Where an executable may carry its UI bundle: between the end of the image
// the linker wrote and the start of its Authenticode certificate table (the
// end of the file when it is unsigned). The signature covers every byte but
// the certificate table, so the bundle is looked for there and nowhere else,
// and a table that holds anything but its signatures is refused. Pure and
// bounded: the file is seen only through a read callback (the fuzz target
// builds this natively).
#pragma once

#include <cstdint>

#include "archive/zip_reader.h"

namespace stubframework::archive {

enum class BundleFault {
  kNone,
  kUnreadable,                  // a read inside the file failed
  kNotAnImage,                  // no PE image, or its headers run past the file
  kCertificateTableMisplaced,   // before the image's end, not 8-aligned, or past the file
  kBytesAfterCertificateTable,  // the table does not end the file
  kCertificateRecordMalformed,  // a record's length, revision or type is not a signature's
  kCertificateTableHoldsMore,   // bytes beyond a record's PKCS#7 blob and its alignment
  kNoArchive,                   // no ZIP archive that the reader accepts in the region
  kArchiveNotAtRegionEnd,       // the archive does not end the region (at most 7 zero bytes after it)
};

// What the log says for each fault.
const wchar_t* BundleFaultText(BundleFault fault);

struct BundleRegion {
  uint64_t begin = 0;  // the end of the linker's image: headers and every section's raw data
  uint64_t end = 0;    // the certificate table's start, or the file's end when unsigned
  bool is_signed = false;
};

// A record of the certificate table: WIN_CERTIFICATE, then its PKCS#7 blob.
inline constexpr uint16_t kCertificateRevision2 = 0x0200;
inline constexpr uint16_t kCertificateTypePkcsSignedData = 0x0002;
// Signatures are laid out on 8-byte boundaries; so are the zeros that packing
// and signing put between the archive and the table.
inline constexpr uint64_t kCertificateAlignment = 8;
inline constexpr uint64_t kMaxBundlePadding = kCertificateAlignment - 1;

// Finds the region of a file of file_size bytes; kNone fills region.
BundleFault LocateBundleRegion(uint64_t file_size, const ReadAtFunction& read, BundleRegion* region);

// Locates the region and opens reader on it: the archive must end the region,
// followed by nothing but up to kMaxBundlePadding zero bytes. The reader then
// sees the region alone (offset 0 is region.begin), so the end-record search
// never reaches into the certificate table.
BundleFault OpenBundle(uint64_t file_size, const ReadAtFunction& read, ZipReader* reader);

}  // namespace stubframework::archive
