// Finding the UI bundle through the executable's security directory: stubs
// packed (and signed) by the build are read; a certificate table that hides
// more than its signature, bytes after it, padding that is not zero and
// unsound headers are refused with the fault named.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "archive/bundle_region.h"
#include "archive/zip_format.h"
#include "archive/archive_test_support.h"

namespace stubframework::archive {
namespace {

using testsupport::zip::Fixture;
using testsupport::zip::ReadBytes;

uint32_t Get32(const std::string& bytes, size_t at) {
  return format::ReadLe32(reinterpret_cast<const uint8_t*>(bytes.data()) + at);
}
void Put16(std::string& bytes, size_t at, uint16_t value) {
  format::WriteLe16(reinterpret_cast<uint8_t*>(&bytes[at]), value);
}
void Put32(std::string& bytes, size_t at, uint32_t value) {
  format::WriteLe32(reinterpret_cast<uint8_t*>(&bytes[at]), value);
}
std::string Le32(uint32_t value) {
  std::string bytes(4, '\0');
  Put32(bytes, 0, value);
  return bytes;
}

// Offsets of the PE fields the tests change.
struct PeFields {
  explicit PeFields(const std::string& image) {
    pe = Get32(image, 0x3C);
    optional = pe + 24;
    bool pe32 = image[optional] == 0x0B && image[optional + 1] == 0x01;
    security = optional + (pe32 ? 96 : 112) + 4 * 8;
  }
  size_t pe = 0;
  size_t optional = 0;
  size_t security = 0;  // the certificate table's (offset, size)
};

ReadAtFunction Reader(const std::string& bytes) {
  return [&bytes](uint64_t offset, void* buffer, size_t size) {
    if (offset > bytes.size() || bytes.size() - offset < size) return false;
    std::memcpy(buffer, bytes.data() + offset, size);
    return true;
  };
}

BundleFault Open(const std::string& bytes, ZipReader* reader = nullptr) {
  ZipReader local;
  return OpenBundle(bytes.size(), Reader(bytes), reader != nullptr ? reader : &local);
}

std::string SignedStub() { return ReadBytes(Fixture(L"signed_bundle.exe")); }
std::string UnsignedStub() { return ReadBytes(Fixture(L"unsigned_bundle.exe")); }

// The unsigned fixture cut right after its archive (its packing zeros dropped).
std::string ImageAndArchive() {
  std::string bytes = UnsignedStub();
  bytes.resize(bytes.rfind("PK\x05\x06") + 22);
  return bytes;
}

// A minimal DER SEQUENCE of content_size bytes (long form for 128 and more).
std::string DerSequence(size_t content_size) {
  std::string der(1, '\x30');
  if (content_size < 0x80) {
    der += static_cast<char>(content_size);
  } else {
    der += "\x82";
    der += static_cast<char>(content_size >> 8);
    der += static_cast<char>(content_size & 0xFF);
  }
  return der + std::string(content_size, '\x5A');
}

// One WIN_CERTIFICATE record around blob; length_counts_padding chooses
// whether dwLength counts the zeros up to the 8-byte boundary.
std::string Record(const std::string& blob, bool length_counts_padding = true, uint16_t revision = 0x0200,
                   uint16_t type = 0x0002) {
  size_t used = 8 + blob.size();
  size_t padded = (used + 7) / 8 * 8;
  std::string record = Le32(static_cast<uint32_t>(length_counts_padding ? padded : used)) + std::string(4, '\0');
  Put16(record, 4, revision);
  Put16(record, 6, type);
  return record + blob + std::string(padded - used, '\0');
}

// image + archive, `padding` (zeros to the 8-byte boundary when omitted), then
// `table` declared as the certificate table.
std::string WithTable(std::string bytes, const std::string& table, const std::string* padding = nullptr) {
  bytes += padding != nullptr ? *padding : std::string((8 - bytes.size() % 8) % 8, '\0');
  PeFields pe(bytes);
  Put32(bytes, pe.security, static_cast<uint32_t>(bytes.size()));
  Put32(bytes, pe.security + 4, static_cast<uint32_t>(table.size()));
  return bytes + table;
}

TEST(BundleRegionTest, StubsPackedByTheBuildAreReadSignedOrNot) {
  std::string signed_stub = SignedStub();
  ASSERT_FALSE(signed_stub.empty());
  PeFields pe(signed_stub);
  BundleRegion region;
  ASSERT_EQ(LocateBundleRegion(signed_stub.size(), Reader(signed_stub), &region), BundleFault::kNone);
  EXPECT_TRUE(region.is_signed);
  EXPECT_EQ(region.end, Get32(signed_stub, pe.security)) << "the region ends where the certificate table starts";
  EXPECT_LT(region.begin, signed_stub.rfind("PK\x03\x04"));
  ZipReader reader;
  ASSERT_EQ(Open(signed_stub, &reader), BundleFault::kNone);
  EXPECT_EQ(reader.entries().size(), testsupport::zip::TreeFiles().size());
  EXPECT_EQ(reader.entries()[0].name, "Load.html");

  std::string unsigned_stub = UnsignedStub();
  ASSERT_EQ(LocateBundleRegion(unsigned_stub.size(), Reader(unsigned_stub), &region), BundleFault::kNone);
  EXPECT_FALSE(region.is_signed);
  EXPECT_EQ(region.end, unsigned_stub.size());
  ASSERT_EQ(Open(unsigned_stub, &reader), BundleFault::kNone);
  EXPECT_EQ(reader.entries().size(), testsupport::zip::TreeFiles().size());
}

// The attack: another archive appended inside the certificate table, with the
// record's and the directory's lengths grown to cover it. The signature does
// not cover the table, so it still verifies; a reader scanning back from the
// end of the file takes the hidden archive for the bundle.
TEST(BundleRegionTest, ArchiveHiddenInTheCertificateTableIsRefused) {
  const std::string stub = SignedStub();
  const std::string hidden = ReadBytes(Fixture(L"with_folders.zip"));
  ASSERT_FALSE(hidden.empty());
  PeFields pe(stub);
  const uint32_t table = Get32(stub, pe.security);
  const uint32_t table_size = Get32(stub, pe.security + 4);
  std::string padded_hidden = hidden + std::string((8 - hidden.size() % 8) % 8, '\0');

  std::string both_lengths = stub + padded_hidden;
  Put32(both_lengths, pe.security + 4, table_size + static_cast<uint32_t>(padded_hidden.size()));
  Put32(both_lengths, table, Get32(stub, table) + static_cast<uint32_t>(padded_hidden.size()));
  ZipReader whole_file;
  ASSERT_TRUE(whole_file.Open(both_lengths.size(), Reader(both_lengths)));
  EXPECT_EQ(whole_file.entries().size(), 3u) << "scanning from the end finds the hidden archive";
  EXPECT_EQ(Open(both_lengths), BundleFault::kCertificateTableHoldsMore);

  std::string directory_only = stub + padded_hidden;
  Put32(directory_only, pe.security + 4, table_size + static_cast<uint32_t>(padded_hidden.size()));
  EXPECT_EQ(Open(directory_only), BundleFault::kCertificateRecordMalformed) << "the archive read as a record";

  std::string nothing_fixed = stub + padded_hidden;
  EXPECT_EQ(Open(nothing_fixed), BundleFault::kBytesAfterCertificateTable);
  EXPECT_EQ(Open(stub + std::string(1, '\0')), BundleFault::kBytesAfterCertificateTable) << "one zero byte";
}

TEST(BundleRegionTest, PaddingBeforeTheTableIsAtMostSevenZeroBytes) {
  const std::string base = ImageAndArchive();
  const std::string table = Record(DerSequence(300));
  // Padding of every length is reached through the archive's comment, which
  // moves the archive's end (the comment is part of the archive).
  for (size_t comment = 0; comment < 8; ++comment) {
    std::string bytes = base + std::string(comment, 'c');
    Put16(bytes, bytes.rfind("PK\x05\x06") + format::kEndCommentLength, static_cast<uint16_t>(comment));
    size_t padding = (8 - bytes.size() % 8) % 8;
    EXPECT_EQ(Open(WithTable(bytes, table)), BundleFault::kNone) << padding << " zero bytes";
    if (padding == 0) continue;
    std::string nonzero(padding, '\0');
    nonzero.back() = '\x01';
    EXPECT_EQ(Open(WithTable(bytes, table, &nonzero)), BundleFault::kArchiveNotAtRegionEnd) << padding;
  }
  // Eight zeros are more than alignment explains; so are the same eight in an unsigned file.
  std::string eight(8 + (8 - base.size() % 8) % 8, '\0');
  EXPECT_EQ(Open(WithTable(base, table, &eight)), BundleFault::kArchiveNotAtRegionEnd);
  EXPECT_EQ(Open(base + std::string(8, '\0')), BundleFault::kArchiveNotAtRegionEnd);
  EXPECT_EQ(Open(base + std::string(7, '\0')), BundleFault::kNone);
  EXPECT_EQ(Open(base + "x"), BundleFault::kArchiveNotAtRegionEnd);
}

TEST(BundleRegionTest, CertificateRecordsAreSignaturesAndNothingMore) {
  const std::string base = ImageAndArchive();
  const std::string blob = DerSequence(301);  // 305 bytes: 3 bytes of alignment after the record
  const std::string short_blob = DerSequence(100);
  std::string tail_not_zero = Record(blob);
  tail_not_zero.back() = '\x01';
  std::string length_past_alignment = Record(blob) + std::string(8, '\0');
  Put32(length_past_alignment, 0, Get32(length_past_alignment, 0) + 8);
  std::string blob_longer_than_record = Record(blob);
  Put32(blob_longer_than_record, 0, 8 + 200);
  std::string length_past_table = Record(blob);
  Put32(length_past_table, 0, static_cast<uint32_t>(length_past_table.size() + 8));
  std::string not_a_sequence = Record(blob);
  not_a_sequence[8] = '\x31';
  std::string indefinite = Record(blob);
  indefinite[9] = '\x80';
  std::string unpadded_last = Record(blob, false);
  unpadded_last.resize(8 + blob.size());

  struct Case {
    const char* what;
    std::string table;
    BundleFault fault;
  } cases[] = {
      {"one record, length counts its alignment", Record(blob), BundleFault::kNone},
      {"one record, length without its alignment", Record(blob, false), BundleFault::kNone},
      {"last record without alignment zeros", unpadded_last, BundleFault::kNone},
      {"two records", Record(blob) + Record(short_blob), BundleFault::kNone},
      {"alignment bytes not zero", tail_not_zero, BundleFault::kCertificateTableHoldsMore},
      {"length 8 past the alignment", length_past_alignment, BundleFault::kCertificateTableHoldsMore},
      {"zeros after the last record", Record(blob) + std::string(8, '\0'), BundleFault::kCertificateRecordMalformed},
      {"record of revision 1", Record(blob, true, 0x0100), BundleFault::kCertificateRecordMalformed},
      {"record of X.509 type", Record(blob, true, 0x0200, 0x0001), BundleFault::kCertificateRecordMalformed},
      {"blob longer than its record", blob_longer_than_record, BundleFault::kCertificateRecordMalformed},
      {"record longer than the table", length_past_table, BundleFault::kCertificateRecordMalformed},
      {"blob is no SEQUENCE", not_a_sequence, BundleFault::kCertificateRecordMalformed},
      {"indefinite length", indefinite, BundleFault::kCertificateRecordMalformed},
      {"header only", Record(std::string()).substr(0, 8), BundleFault::kCertificateRecordMalformed},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Open(WithTable(base, c.table)), c.fault) << c.what;
  }
  std::string many;
  for (int i = 0; i < 9; ++i) many += Record(short_blob);
  EXPECT_EQ(Open(WithTable(base, many)), BundleFault::kCertificateTableHoldsMore) << "nine records";
}

TEST(BundleRegionTest, UnsoundHeadersAndMisplacedTablesAreRefused) {
  const std::string stub = SignedStub();
  PeFields pe(stub);
  const uint32_t table = Get32(stub, pe.security);
  auto changed = [&stub](size_t at, uint32_t value) {
    std::string bytes = stub;
    Put32(bytes, at, value);
    return bytes;
  };
  std::string not_mz = stub;
  not_mz[0] = 'X';
  std::string bad_magic = stub;
  Put16(bad_magic, pe.optional, 0x0107);
  struct Case {
    const char* what;
    std::string bytes;
    BundleFault fault;
  } cases[] = {
      {"empty file", std::string(), BundleFault::kNotAnImage},
      {"shorter than a DOS header", stub.substr(0, 63), BundleFault::kNotAnImage},
      {"no MZ", not_mz, BundleFault::kNotAnImage},
      {"PE header past the end", changed(0x3C, static_cast<uint32_t>(stub.size())), BundleFault::kNotAnImage},
      {"PE header offset wraps", changed(0x3C, 0xFFFFFFF0u), BundleFault::kNotAnImage},
      {"no PE signature", changed(pe.pe, 0x00004551), BundleFault::kNotAnImage},
      {"unknown optional header", bad_magic, BundleFault::kNotAnImage},
      {"headers only", stub.substr(0, 1024), BundleFault::kNotAnImage},
      {"table not 8-aligned", changed(pe.security, table + 4), BundleFault::kCertificateTableMisplaced},
      {"table inside the image", changed(pe.security, 1024), BundleFault::kCertificateTableMisplaced},
      {"table past the end", changed(pe.security + 4, Get32(stub, pe.security + 4) + 8),
       BundleFault::kCertificateTableMisplaced},
      {"table size wraps", changed(pe.security + 4, 0xFFFFFFF8u), BundleFault::kCertificateTableMisplaced},
      {"offset without a size", changed(pe.security + 4, 0), BundleFault::kCertificateTableMisplaced},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Open(c.bytes), c.fault) << c.what;
  }
  // The sections' ends bound the region from below: a section declared to
  // run to the end of the file leaves no room for the bundle.
  std::string bytes = stub;
  uint16_t optional_size = format::ReadLe16(reinterpret_cast<const uint8_t*>(bytes.data()) + pe.pe + 20);
  size_t first_section = pe.optional + optional_size;
  Put32(bytes, first_section + 16, table - Get32(bytes, first_section + 20) + 8);
  EXPECT_EQ(Open(bytes), BundleFault::kCertificateTableMisplaced) << "a section overlapping the table";
}

TEST(BundleRegionTest, ReadFailureAndProgramsWithoutABundle) {
  const std::string stub = SignedStub();
  ZipReader reader;
  auto failing = [](uint64_t, void*, size_t) { return false; };
  EXPECT_EQ(OpenBundle(stub.size(), failing, &reader), BundleFault::kUnreadable);
  // The image alone, unsigned, carries no archive.
  std::string image = ImageAndArchive();
  size_t end_record = image.size() - 22;
  image.resize(end_record - Get32(image, end_record + format::kEndDirectoryOffset) -
               Get32(image, end_record + format::kEndDirectorySize));
  EXPECT_EQ(Open(image), BundleFault::kNoArchive);
  // Every fault has a text of its own for the log.
  std::vector<std::wstring> texts;
  for (int f = 0; f <= static_cast<int>(BundleFault::kArchiveNotAtRegionEnd); ++f) {
    std::wstring text = BundleFaultText(static_cast<BundleFault>(f));
    EXPECT_FALSE(text.empty());
    for (const std::wstring& earlier : texts) EXPECT_NE(text, earlier);
    texts.push_back(text);
  }
}

}  // namespace
}  // namespace stubframework::archive
