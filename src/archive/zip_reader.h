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

// Extraction uses no more of a stored name than this; the reader keeps no more.
inline constexpr size_t kEntryNameLimit = 259;

struct ZipEntry {
  std::string name;  // as stored, at most kEntryNameLimit bytes: code-page text, "/" separated
  bool name_ends_in_slash = false;  // of the whole stored name
  uint16_t flags = 0;
  uint16_t method = 0;
  uint32_t crc = 0;
  uint32_t compressed_size = 0;
  uint32_t size = 0;
  uint32_t external_attributes = 0;
  uint64_t local_header_position = 0;  // absolute: base offset included
  uint64_t data_position = 0;          // absolute: the first byte after the local header

  bool IsDirectory() const;
};

// Finds the end record by scanning backwards in windows of 4096 bytes, each
// 4093 bytes before the last, no further back than a maximal comment allows.
// position receives its absolute offset.
bool FindEndRecord(uint64_t file_size, const ReadAtFunction& read, uint64_t* position);

class ZipReader {
 public:
  // Locates the archive in a file of file_size bytes, reads its central
  // directory and every local header. Any inconsistency fails the whole
  // archive, before anything is extracted: a directory outside the archive,
  // an entry whose bytes (local header to the end of its compressed data)
  // overlap another entry's or run into the directory. Memory stays bounded
  // whatever sizes the archive declares.
  bool Open(uint64_t file_size, ReadAtFunction read);

  const std::vector<ZipEntry>& entries() const { return entries_; }
  // Offsets stored in the archive count from here.
  uint64_t base_offset() const { return base_offset_; }
  // Absolute position and size of the central directory.
  uint64_t directory_position() const { return directory_position_; }
  uint32_t directory_size() const { return directory_size_; }
  // Where the end record and the comment it declares end (the comment's
  // length is not checked against the file).
  uint64_t archive_end() const { return archive_end_; }
  // What the entries would take on disk, as their directory records declare.
  uint64_t DeclaredSize() const;

  // Streams the content of entry index (stored or deflated) into write and
  // checks its size and CRC-32.
  bool ExtractEntry(size_t index, const WriteFunction& write) const;

 private:
  bool ReadDirectory(uint32_t entry_count);
  bool LocateEntryData();
  bool CopyStored(const ZipEntry& entry, uint64_t data_position, const WriteFunction& write) const;
  bool Inflate(const ZipEntry& entry, uint64_t data_position, const WriteFunction& write) const;

  ReadAtFunction read_;
  uint64_t base_offset_ = 0;
  uint64_t directory_position_ = 0;
  uint32_t directory_size_ = 0;
  uint64_t archive_end_ = 0;
  std::vector<ZipEntry> entries_;
};

}  // namespace stubframework::archive
