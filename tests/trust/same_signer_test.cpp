// The certificate table rule (a pure function over image bytes, built here
// byte by byte) and the signer comparison on real signed files: the genuine
// signer passes; unsigned, another signer, a changed byte of code, bytes
// hidden in the certificate entry and bytes after the table do not. Wine's
// WinVerifyTrust passes the last three and any signer, so these cases prove
// the stub's own checks.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "base/unique_handle.h"
#include "trust/certificate_table.h"
#include "trust/same_signer.h"

namespace stubframework::trust {
namespace {

void Put16(std::vector<uint8_t>& b, size_t at, uint16_t v) {
  b[at] = static_cast<uint8_t>(v);
  b[at + 1] = static_cast<uint8_t>(v >> 8);
}
void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

constexpr size_t kPe = 0x40;
constexpr size_t kOptional = kPe + 24;
constexpr size_t kSecurity = kOptional + 128;
constexpr size_t kTable = 0x200;

// A PE32 header and, at kTable, one WIN_CERTIFICATE holding a DER SEQUENCE of
// `content` bytes, the entry padded with zeros to 8.
std::vector<uint8_t> Image(size_t content) {
  std::vector<uint8_t> b(kTable, 0);
  b[0] = 'M';
  b[1] = 'Z';
  Put32(b, 0x3C, kPe);
  Put32(b, kPe, 0x00004550);
  Put16(b, kPe + 4 + 16, 224);  // SizeOfOptionalHeader
  Put16(b, kOptional, 0x10B);
  Put32(b, kOptional + 92, 16);  // NumberOfRvaAndSizes
  const size_t der = 4 + content;
  const size_t entry = 8 + der;
  const size_t table = (entry + 7) / 8 * 8;
  Put32(b, kSecurity, kTable);
  Put32(b, kSecurity + 4, static_cast<uint32_t>(table));
  b.resize(kTable + table, 0);
  Put32(b, kTable, static_cast<uint32_t>(entry));
  Put16(b, kTable + 4, 0x0200);
  Put16(b, kTable + 6, 0x0002);
  b[kTable + 8] = 0x30;
  b[kTable + 9] = 0x82;
  b[kTable + 10] = static_cast<uint8_t>(content >> 8);
  b[kTable + 11] = static_cast<uint8_t>(content);
  for (size_t i = 0; i < content; ++i) b[kTable + 12 + i] = static_cast<uint8_t>(0xA0 + i % 7);
  return b;
}

struct TableCase {
  const char* what;
  size_t content;
  void (*change)(std::vector<uint8_t>&);
  TableVerdict verdict;
};

const TableCase kTableCases[] = {
    {"entry a multiple of 8", 300, [](std::vector<uint8_t>&) {}, TableVerdict::kTight},
    {"entry padded with 5 zeros", 303, [](std::vector<uint8_t>&) {}, TableVerdict::kTight},
    {"a byte after the table", 300, [](std::vector<uint8_t>& b) { b.push_back(0); }, TableVerdict::kLoose},
    {"8 bytes after the table", 300, [](std::vector<uint8_t>& b) { b.resize(b.size() + 8, 0); }, TableVerdict::kLoose},
    {"alignment padding that is not zero", 303, [](std::vector<uint8_t>& b) { b.back() = 1; }, TableVerdict::kLoose},
    {"bytes hidden inside the entry, both lengths fixed", 300,
     [](std::vector<uint8_t>& b) {
       b.resize(b.size() + 368, 0x11);
       Put32(b, kTable, static_cast<uint32_t>(8 + 304 + 368));
       Put32(b, kSecurity + 4, static_cast<uint32_t>(b.size() - kTable));
     },
     TableVerdict::kLoose},
    {"a second entry after the first", 300,
     [](std::vector<uint8_t>& b) {
       const size_t second = b.size();
       b.resize(b.size() + 16, 0);
       Put32(b, second, 16);
       Put16(b, second + 4, 0x0200);
       Put16(b, second + 6, 0x0002);
       Put32(b, kSecurity + 4, static_cast<uint32_t>(b.size() - kTable));
     },
     TableVerdict::kLoose},
    {"an entry longer than its table", 300, [](std::vector<uint8_t>& b) { Put32(b, kTable, 8 + 304 + 8); },
     TableVerdict::kLoose},
    {"an entry shorter than its header", 300, [](std::vector<uint8_t>& b) { Put32(b, kTable, 4); },
     TableVerdict::kLoose},
    {"a table past the end of the file", 300, [](std::vector<uint8_t>& b) { Put32(b, kSecurity, 0x7FFFFFF8); },
     TableVerdict::kLoose},
    {"a table size that wraps", 300, [](std::vector<uint8_t>& b) { Put32(b, kSecurity + 4, 0xFFFFFFF8); },
     TableVerdict::kLoose},
    {"a table not aligned to 8", 300, [](std::vector<uint8_t>& b) {
       b.insert(b.begin() + kTable, 4, 0);
       Put32(b, kSecurity, kTable + 4);
     },
     TableVerdict::kLoose},
    {"an X.509 entry, not PKCS #7", 300, [](std::vector<uint8_t>& b) { Put16(b, kTable + 6, 0x0001); },
     TableVerdict::kLoose},
    {"a DER length beyond the entry", 300, [](std::vector<uint8_t>& b) { b[kTable + 10] = 0x7F; },
     TableVerdict::kLoose},
    {"no security directory", 300, [](std::vector<uint8_t>& b) { Put32(b, kOptional + 92, 4); },
     TableVerdict::kUnsigned},
    {"an empty security directory", 300,
     [](std::vector<uint8_t>& b) {
       Put32(b, kSecurity, 0);
       Put32(b, kSecurity + 4, 0);
     },
     TableVerdict::kUnsigned},
    {"no MZ", 300, [](std::vector<uint8_t>& b) { b[0] = 'X'; }, TableVerdict::kNotAnImage},
    {"the PE header past the end", 300, [](std::vector<uint8_t>& b) { Put32(b, 0x3C, 0xFFFFFFF0); },
     TableVerdict::kNotAnImage},
    {"an optional header of an unknown kind", 300, [](std::vector<uint8_t>& b) { Put16(b, kOptional, 0x107); },
     TableVerdict::kNotAnImage},
};

TEST(CertificateTableTest, OnlyATightTableAtTheEndPasses) {
  for (const TableCase& row : kTableCases) {
    std::vector<uint8_t> image = Image(row.content);
    row.change(image);
    const CertificateTable table = ReadCertificateTable(image.data(), image.size());
    EXPECT_EQ(table.verdict, row.verdict) << row.what;
    if (row.verdict == TableVerdict::kTight) {
      EXPECT_EQ(table.signature_offset, kTable + 8) << row.what;
      EXPECT_EQ(table.signature_size, 4 + row.content) << row.what;
    }
  }
}

TEST(CertificateTableTest, EveryCutOfAnImageIsRefusedWithoutReadingPastIt) {
  const std::vector<uint8_t> image = Image(300);
  for (size_t size = 0; size < image.size(); ++size) {
    std::vector<uint8_t> cut(image.begin(), image.begin() + size);  // its own block: overreads show under a checker
    EXPECT_NE(ReadCertificateTable(cut.data(), cut.size()).verdict, TableVerdict::kTight) << size;
  }
}

std::wstring Fixture(const wchar_t* name) { return std::wstring(TRUST_SIGNED_FIXTURES) + L"\\" + name; }

SignerCheck Check(const wchar_t* candidate, const wchar_t* reference = L"genuine_copy.exe") {
  const std::wstring path = Fixture(candidate);
  base::UniqueHandle file(
      ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  EXPECT_TRUE(file) << "missing fixture";
  return CheckSameSigner(file.Get(), path, Fixture(reference));
}

TEST(SameSignerTest, TheRunningStubsSignerPasses) { EXPECT_EQ(Check(L"genuine.exe"), SignerCheck::kSameSigner); }

TEST(SameSignerTest, EverythingElseIsRefused) {
  struct Row {
    const wchar_t* file;
    SignerCheck expected;
  };
  const Row rows[] = {
      {L"unsigned.exe", SignerCheck::kNotTrusted},
      {L"other_signer.exe", SignerCheck::kOtherSigner},
      {L"tampered.exe", SignerCheck::kNotTrusted},
      {L"padded.exe", SignerCheck::kLooseTable},
      {L"trailing.exe", SignerCheck::kLooseTable},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(Check(row.file), row.expected) << std::string(row.file, row.file + wcslen(row.file));
  }
}

TEST(SameSignerTest, AnUnsignedRunningStubVouchesForNothing) {
  EXPECT_EQ(Check(L"genuine.exe", L"unsigned.exe"), SignerCheck::kReferenceUnsigned);
  EXPECT_EQ(Check(L"genuine.exe", L"no_such_file.exe"), SignerCheck::kUnreadable);
}

}  // namespace
}  // namespace stubframework::trust
