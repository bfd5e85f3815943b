// Reads a ZIP archive that may sit anywhere inside a larger file (for example
// appended to an executable, before its signature): finds the end record,
// walks the central directory and streams single entries out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace stubframework::archive {

// Reads exactly size bytes at an absolute file offset; false on a short read.
using ReadAtFunction = std::function<bool(uint64_t offset, void* buffer, size_t size)>;
// Takes the next size bytes of an entry's content; false stops the entry.
using WriteFunction = std::function<bool(const void* data, size_t size)>;

struct ZipEntry {
  std::string name;  // as stored: code-page text, "/" separated
  uint16_t flags = 0;
  uint16_t method = 0;
  uint32_t crc = 0;
  uint32_t compressed_size = 0;
  uint32_t size = 0;
  uint32_t external_attributes = 0;
  uint64_t local_header_position = 0;  // absolute: base offset included

  bool IsDirectory() const;
};

// Finds the end record by scanning backwards in windows of 4096 bytes, each
// 4093 bytes before the last, no further back than a maximal comment allows.
// position receives its absolute offset.
bool FindEndRecord(uint64_t file_size, const ReadAtFunction& read, uint64_t* position);

class ZipReader {
 public:
  // Locates the archive in a file of file_size bytes and reads its central
  // directory. Any inconsistency fails the whole archive.
  bool Open(uint64_t file_size, ReadAtFunction read);

  const std::vector<ZipEntry>& entries() const { return entries_; }
  // Offsets stored in the archive count from here.
  uint64_t base_offset() const { return base_offset_; }
  // Absolute position of the central directory, and its raw bytes.
  uint64_t directory_position() const { return directory_position_; }
  const std::vector<uint8_t>& directory() const { return directory_; }

  // Streams the content of entry index (stored or deflated) into write and
  // checks its size and CRC-32.
  bool ExtractEntry(size_t index, const WriteFunction& write) const;

 private:
  bool ReadDirectory(uint32_t entry_count);
  bool CopyStored(const ZipEntry& entry, uint64_t data_position, const WriteFunction& write) const;
  bool Inflate(const ZipEntry& entry, uint64_t data_position, const WriteFunction& write) const;

  ReadAtFunction read_;
  uint64_t file_size_ = 0;
  uint64_t base_offset_ = 0;
  uint64_t directory_position_ = 0;
  std::vector<uint8_t> directory_;
  std::vector<ZipEntry> entries_;
};

}  // namespace stubframework::archive
