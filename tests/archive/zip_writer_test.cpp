// Adding files to "log.zip" one at a time. The archive is left in the build
// tree, where LogZipReadByIndependentReaders reads it with other tools.
#include <gtest/gtest.h>
#include <shlobj.h>
#include <zlib.h>

#include <cstring>

#include "archive/zip_format.h"
#include "archive/zip_reader.h"
#include "archive/zip_writer.h"
#include "archive/archive_test_support.h"

namespace stubframework::archive {
namespace {

using namespace testsupport::zip;

std::wstring Output(const std::wstring& name) { return std::wstring(STUB_ARCHIVE_OUTPUT) + L"\\log_zip\\" + name; }

bool ReadArchive(const std::string& bytes, ZipReader* reader) {
  return reader->Open(bytes.size(), [&bytes](uint64_t offset, void* buffer, size_t size) {
    if (offset + size > bytes.size()) return false;
    std::memcpy(buffer, bytes.data() + offset, size);
    return true;
  });
}

std::string LogText() {
  std::string text;
  for (int i = 0; i < 400; ++i) text += "[20260101 10:00:00 000 DEBUG] line " + std::to_string(i) + " of the run log\r\n";
  return text;
}

TEST(ZipWriterTest, TwoFilesAddedInTurnUnderTheirBareNames) {
  ::SHCreateDirectoryExW(nullptr, Output(L"sources").c_str(), nullptr);
  const std::wstring archive = Output(L"log.zip");
  ::DeleteFileW(archive.c_str());
  const std::wstring first = Output(L"sources\\installer_log_1.txt");
  const std::wstring second = Output(L"sources\\second.log");
  ASSERT_TRUE(WriteBytes(first, LogText()));
  std::string binary;
  for (int i = 0; i < 5000; ++i) binary.push_back(static_cast<char>((i * 7919) >> 3));
  ASSERT_TRUE(WriteBytes(second, binary));
  // The readers outside compare the level against this zlib.
  ASSERT_TRUE(WriteBytes(Output(L"zlib_version.txt"), zlibVersion()));

  ASSERT_TRUE(AddFileToArchive(archive, first));
  ZipReader reader;
  std::string bytes = ReadBytes(archive);
  ASSERT_TRUE(ReadArchive(bytes, &reader));
  ASSERT_EQ(reader.entries().size(), 1u);

  ASSERT_TRUE(AddFileToArchive(archive, second));
  bytes = ReadBytes(archive);
  ASSERT_TRUE(ReadArchive(bytes, &reader));
  ASSERT_EQ(reader.entries().size(), 2u);
  EXPECT_EQ(reader.entries()[0].name, "installer_log_1.txt");
  EXPECT_EQ(reader.entries()[1].name, "second.log");
  for (const ZipEntry& entry : reader.entries()) {
    EXPECT_EQ(entry.method, format::kMethodDeflated);
    EXPECT_EQ(entry.flags & 0x6, format::kFlagMaximumCompression);
  }
  EXPECT_LT(reader.entries()[0].compressed_size, reader.entries()[0].size / 4) << "the log text compresses";

  ScratchFolder scratch;
  ASSERT_TRUE(ExtractFile(archive, scratch.path(), nullptr));
  EXPECT_TRUE(ReadBytes(scratch.path() + L"installer_log_1.txt") == LogText());
  EXPECT_TRUE(ReadBytes(scratch.path() + L"second.log") == binary);
}

TEST(ZipWriterTest, MissingFileCreatesNoArchive) {
  ScratchFolder scratch;
  std::wstring archive = scratch.path() + L"log.zip";
  EXPECT_FALSE(AddFileToArchive(archive, scratch.path() + L"missing.txt"));
  EXPECT_FALSE(Exists(archive));
}

TEST(ZipWriterTest, ExistingFileThatIsNoArchiveIsLeftAsItWas) {
  ScratchFolder scratch;
  std::wstring archive = scratch.path() + L"log.zip";
  std::wstring file = scratch.path() + L"a.txt";
  ASSERT_TRUE(WriteBytes(file, "some text"));
  const std::string not_a_zip(3000, 'x');
  ASSERT_TRUE(WriteBytes(archive, not_a_zip));
  EXPECT_FALSE(AddFileToArchive(archive, file));
  EXPECT_TRUE(ReadBytes(archive) == not_a_zip);
}

TEST(ZipWriterTest, EmptyFileBecomesAnEmptyEntry) {
  ScratchFolder scratch;
  std::wstring archive = scratch.path() + L"log.zip";
  std::wstring file = scratch.path() + L"empty.txt";
  ASSERT_TRUE(WriteBytes(file, ""));
  ASSERT_TRUE(AddFileToArchive(archive, file));
  ScratchFolder out;
  ASSERT_TRUE(ExtractFile(archive, out.path(), nullptr));
  EXPECT_TRUE(Exists(out.path() + L"empty.txt"));
  EXPECT_EQ(ReadBytes(out.path() + L"empty.txt"), "");
}

}  // namespace
}  // namespace stubframework::archive
