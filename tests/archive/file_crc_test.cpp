// CRC-32 of whole files, as getCrc and the download worker report it.
#include <gtest/gtest.h>

#include <cstring>

#include "archive/file_crc.h"
#include "archive/zip_reader.h"
#include "archive/archive_test_support.h"

namespace stubframework::archive {
namespace {

using namespace testsupport::zip;

TEST(FileCrcTest, KnownContentEmptyAndMissingFiles) {
  EXPECT_EQ(FileCrcText(Fixture(L"abc.txt")), L"891568578");
  EXPECT_EQ(FileCrcText(Fixture(L"empty.txt")), L"0");
  EXPECT_EQ(FileCrcText(Fixture(L"missing.txt")), L"0");
  uint32_t crc = 1;
  EXPECT_TRUE(FileCrc(Fixture(L"empty.txt"), &crc));
  EXPECT_EQ(crc, 0u) << "an empty file has a CRC, and it is 0";
  EXPECT_FALSE(FileCrc(Fixture(L"missing.txt"), &crc));
}

TEST(FileCrcTest, ChunksOfAMebibyteFoldIntoTheWholeFileChecksum) {
  // The 4 MiB entry's CRC in the archive was computed by an independent writer.
  std::string zip = ReadBytes(Fixture(L"large.zip"));
  ZipReader reader;
  ASSERT_TRUE(reader.Open(zip.size(), [&zip](uint64_t offset, void* buffer, size_t size) {
    if (offset + size > zip.size()) return false;
    std::memcpy(buffer, zip.data() + offset, size);
    return true;
  }));
  ASSERT_EQ(reader.entries()[1].name, "payload.bin");
  ScratchFolder scratch;
  ASSERT_TRUE(ExtractFile(Fixture(L"large.zip"), scratch.path(), nullptr));
  uint32_t crc = 0;
  ASSERT_TRUE(FileCrc(scratch.path() + L"payload.bin", &crc));
  EXPECT_EQ(crc, reader.entries()[1].crc);
  EXPECT_EQ(FileCrcText(scratch.path() + L"payload.bin"), std::to_wstring(reader.entries()[1].crc));
}

TEST(FileCrcTest, FileOpenedElsewhereCannotBeChecked) {
  ScratchFolder scratch;
  std::wstring path = scratch.path() + L"busy.bin";
  base::UniqueHandle writer(::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                           CREATE_ALWAYS, 0, nullptr));
  ASSERT_TRUE(writer);
  uint32_t crc = 0;
  // The file is opened sharing nothing, so a download still writing it fails.
  EXPECT_FALSE(FileCrc(path, &crc));
  EXPECT_EQ(FileCrcText(path), L"0");
}

}  // namespace
}  // namespace stubframework::archive
