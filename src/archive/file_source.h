// Positioned reads from an open file for the archive reader.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

namespace stubframework::archive {

class ZipReporter;

class FileSource {
 public:
  // file: a synchronous handle with read access; reporter may be null.
  FileSource(HANDLE file, ZipReporter* reporter) : file_(file), reporter_(reporter) {}

  bool Size(uint64_t* size) const;
  // Reads exactly size bytes at offset; a short read reports the system error.
  bool ReadAt(uint64_t offset, void* buffer, size_t size) const;

 private:
  HANDLE file_;
  ZipReporter* reporter_;
};

}  // namespace stubframework::archive
