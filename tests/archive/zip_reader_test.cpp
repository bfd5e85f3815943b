// The reader on archives held in memory: finding the end record inside larger
// files, the consistency checks, and streaming entries out.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "archive/zip_format.h"
#include "archive/zip_reader.h"
#include "archive/archive_test_support.h"

namespace stubframework::archive {
namespace {

using testsupport::zip::Fixture;
using testsupport::zip::ReadBytes;

class MemoryFile {
 public:
  explicit MemoryFile(std::string bytes) : bytes_(std::move(bytes)) {}
  ReadAtFunction Reader() {
    return [this](uint64_t offset, void* buffer, size_t size) {
      if (offset > bytes_.size() || bytes_.size() - offset < size) return false;
      std::memcpy(buffer, bytes_.data() + offset, size);
      return true;
    };
  }
  uint64_t size() const { return bytes_.size(); }
  std::string& bytes() { return bytes_; }

 private:
  std::string bytes_;
};

std::string TreeZip() { return ReadBytes(Fixture(L"tree.zip")); }

// Offset of a field of the end record within bytes (the record is the last one).
size_t EndField(const std::string& bytes, size_t field) { return bytes.rfind("PK\x05\x06") + field; }

void Put16(std::string& bytes, size_t at, uint16_t value) {
  format::WriteLe16(reinterpret_cast<uint8_t*>(&bytes[at]), value);
}
void Put32(std::string& bytes, size_t at, uint32_t value) {
  format::WriteLe32(reinterpret_cast<uint8_t*>(&bytes[at]), value);
}

bool Opens(std::string bytes) {
  MemoryFile file(std::move(bytes));
  ZipReader reader;
  return reader.Open(file.size(), file.Reader());
}

TEST(ZipReaderTest, ArchiveBetweenOtherDataIsFoundWithItsBaseOffset) {
  std::string zip = TreeZip();
  ASSERT_FALSE(zip.empty());
  MemoryFile file(std::string(5000, 'M') + zip + std::string(3000, 'S'));
  ZipReader reader;
  ASSERT_TRUE(reader.Open(file.size(), file.Reader()));
  EXPECT_EQ(reader.base_offset(), 5000u);
  ASSERT_EQ(reader.entries().size(), 6u);
  EXPECT_EQ(reader.entries()[4].name, "pages/Welcome/page.js");
  EXPECT_EQ(reader.entries()[0].local_header_position, 5000u);
}

TEST(ZipReaderTest, EndRecordSearchReachesAMaximalCommentButNotMuchFurther) {
  std::string zip = TreeZip();
  // 65535 bytes after the record: as far as a comment can go.
  EXPECT_TRUE(Opens(zip + std::string(65535, '\0')));
  // The windows step back 4093 bytes each; the last one searched starts
  // 4096 + 16 * 4093 = 69584 bytes before the end.
  EXPECT_TRUE(Opens(zip + std::string(69584 - 22, '\0')));
  EXPECT_FALSE(Opens(zip + std::string(69584 - 22 + 1, '\0')));
  EXPECT_FALSE(Opens(zip + std::string(80000, '\0')));
}

TEST(ZipReaderTest, SignatureAcrossAWindowBorderIsFound) {
  std::string zip = TreeZip();
  // The signature starts 4098 bytes before the end: the first window holds
  // only its last two bytes.
  for (size_t tail : {4096u - 22u, 4098u - 22u, 4099u - 22u, 4093u * 2 - 22u}) {
    MemoryFile file(zip + std::string(tail, '\0'));
    uint64_t position = 0;
    ASSERT_TRUE(FindEndRecord(file.size(), file.Reader(), &position)) << tail;
    EXPECT_EQ(position, zip.size() - 22) << tail;
  }
}

TEST(ZipReaderTest, TooShortOrSignaturelessFilesHaveNoArchive) {
  EXPECT_FALSE(Opens(std::string()));
  EXPECT_FALSE(Opens(std::string(21, 'x')));
  EXPECT_FALSE(Opens(std::string(100000, 'x')));
  // A signature with fewer than 22 bytes after it is not an end record.
  EXPECT_FALSE(Opens(std::string(100, 'x') + "PK\x05\x06" + std::string(10, '\0')));
}

TEST(ZipReaderTest, EndRecordConsistencyChecks) {
  const std::string zip = TreeZip();
  std::string bytes = zip;
  Put16(bytes, EndField(bytes, format::kEndEntriesOnDisk), 5);
  EXPECT_FALSE(Opens(bytes)) << "entries on this disk differ from the total";

  bytes = zip;
  Put16(bytes, EndField(bytes, format::kEndDiskNumber), 1);
  EXPECT_FALSE(Opens(bytes)) << "disk 1 with the directory on disk 0";
  Put16(bytes, EndField(bytes, format::kEndDirectoryDisk), 1);
  EXPECT_TRUE(Opens(bytes)) << "both numbers 1 is a single disk too";

  bytes = zip;
  Put32(bytes, EndField(bytes, format::kEndDirectorySize), 6 * 46 - 1);
  EXPECT_FALSE(Opens(bytes)) << "less than 46 bytes per entry";

  bytes = zip;
  Put32(bytes, EndField(bytes, format::kEndDirectoryOffset), static_cast<uint32_t>(bytes.size()));
  EXPECT_FALSE(Opens(bytes)) << "directory beyond the end of the file";

  bytes = zip;
  Put16(bytes, EndField(bytes, format::kEndTotalEntries), 7);
  Put16(bytes, EndField(bytes, format::kEndEntriesOnDisk), 7);
  EXPECT_FALSE(Opens(bytes)) << "more entries than the directory holds";
}

TEST(ZipReaderTest, EntriesStreamOutWithTheirContent) {
  MemoryFile file(std::string(777, 'M') + TreeZip());
  ZipReader reader;
  ASSERT_TRUE(reader.Open(file.size(), file.Reader()));
  const std::vector<std::wstring>& names = testsupport::zip::TreeFiles();
  for (size_t i = 0; i < reader.entries().size(); ++i) {
    std::string content;
    ASSERT_TRUE(reader.ExtractEntry(i, [&](const void* data, size_t size) {
      content.append(static_cast<const char*>(data), size);
      return true;
    })) << i;
    EXPECT_TRUE(content == ReadBytes(Fixture(L"tree\\" + names[i]))) << i;
  }
  EXPECT_EQ(reader.entries()[2].method, format::kMethodStored);
  EXPECT_EQ(reader.entries()[4].method, format::kMethodDeflated);
}

TEST(ZipReaderTest, DeflatedEntryLargerThanDeclaredStopsAtTheDeclaredSize) {
  std::string bytes = TreeZip();
  MemoryFile original(bytes);
  ZipReader probe;
  ASSERT_TRUE(probe.Open(original.size(), original.Reader()));
  // Entry 4 declares 10 bytes fewer than it inflates to.
  size_t header = probe.directory_position();
  for (int i = 0; i < 4; ++i) {
    const uint8_t* p = reinterpret_cast<const uint8_t*>(bytes.data()) + header;
    header += 46 + format::ReadLe16(p + 28) + format::ReadLe16(p + 30) + format::ReadLe16(p + 32);
  }
  uint32_t declared = probe.entries()[4].size - 10;
  Put32(bytes, header + format::kCentralSize, declared);

  MemoryFile file(bytes);
  ZipReader reader;
  ASSERT_TRUE(reader.Open(file.size(), file.Reader()));
  size_t written = 0;
  EXPECT_FALSE(reader.ExtractEntry(4, [&](const void*, size_t size) {
    written += size;
    return true;
  }));
  EXPECT_LE(written, declared);
}

// A file of any size that holds zeros, then the given tail; it counts what is
// read from it.
class VirtualFile {
 public:
  VirtualFile(uint64_t size, std::string tail) : size_(size), tail_(std::move(tail)) {}
  ReadAtFunction Reader() {
    return [this](uint64_t offset, void* buffer, size_t size) {
      if (offset > size_ || size_ - offset < size) return false;
      largest_read_ = std::max<uint64_t>(largest_read_, size);
      total_read_ += size;
      uint64_t tail_start = size_ - tail_.size();
      auto* out = static_cast<char*>(buffer);
      for (size_t i = 0; i < size; ++i) {
        uint64_t at = offset + i;
        out[i] = at >= tail_start ? tail_[static_cast<size_t>(at - tail_start)] : '\0';
      }
      return true;
    };
  }
  uint64_t size() const { return size_; }
  uint64_t largest_read_ = 0;
  uint64_t total_read_ = 0;

 private:
  uint64_t size_;
  std::string tail_;
};

std::string EndRecordBytes(uint16_t entries, uint32_t directory_size, uint32_t directory_offset) {
  std::string record(22, '\0');
  Put32(record, 0, format::kEndRecordSignature);
  Put16(record, format::kEndEntriesOnDisk, entries);
  Put16(record, format::kEndTotalEntries, entries);
  Put32(record, format::kEndDirectorySize, directory_size);
  Put32(record, format::kEndDirectoryOffset, directory_offset);
  return record;
}

TEST(ZipReaderTest, HugeDirectoryIsWalkedInBoundedReads) {
  // 1.9 GB of directory in a 2 GB file: more than this process can allocate.
  const uint32_t directory_size = 1900000000;
  const uint64_t file_size = 2000000000;
  struct Case {
    uint16_t entries;
    bool opens;
  };
  // With no entries there is nothing to read; with entries the first record
  // lacks its signature.
  for (Case c : {Case{0, true}, Case{2, false}, Case{65535, false}}) {
    VirtualFile file(file_size, EndRecordBytes(c.entries, directory_size, 0));
    ZipReader reader;
    EXPECT_EQ(reader.Open(file.size(), file.Reader()), c.opens) << c.entries;
    EXPECT_TRUE(reader.entries().empty()) << c.entries;
    EXPECT_LE(file.largest_read_, 64u * 1024) << c.entries;
    EXPECT_LE(file.total_read_, 256u * 1024) << c.entries;
  }
}

TEST(ZipReaderTest, LongNamesAreKeptToWhatExtractionUsesAndFoldersStayFolders) {
  MemoryFile file(ReadBytes(Fixture(L"long_names.zip")));
  ZipReader reader;
  ASSERT_TRUE(reader.Open(file.size(), file.Reader()));
  ASSERT_EQ(reader.entries().size(), 2u);
  EXPECT_EQ(reader.entries()[0].name, std::string(kEntryNameLimit, 'd'));
  EXPECT_TRUE(reader.entries()[0].IsDirectory()) << "the slash after the cut still counts";
  EXPECT_EQ(reader.entries()[1].name, std::string(kEntryNameLimit, 'f'));
  EXPECT_FALSE(reader.entries()[1].IsDirectory());
  std::string content;
  ASSERT_TRUE(reader.ExtractEntry(1, [&](const void* data, size_t size) {
    content.append(static_cast<const char*>(data), size);
    return true;
  }));
  EXPECT_EQ(content, "x");
}

TEST(ZipReaderTest, WriteRefusalStopsTheEntry) {
  MemoryFile file(TreeZip());
  ZipReader reader;
  ASSERT_TRUE(reader.Open(file.size(), file.Reader()));
  int calls = 0;
  EXPECT_FALSE(reader.ExtractEntry(0, [&](const void*, size_t) { return ++calls, false; }));
  EXPECT_EQ(calls, 1);
  EXPECT_FALSE(reader.ExtractEntry(6, [](const void*, size_t) { return true; })) << "index out of range";
}

}  // namespace
}  // namespace stubframework::archive
