// Sequential writes into an open file for the archive reader.
#pragma once

#include <windows.h>

#include <cstddef>

namespace stubframework::archive {

class ZipReporter;

class FileTarget {
 public:
  // file: a handle with write access; reporter may be null.
  FileTarget(HANDLE file, ZipReporter* reporter) : file_(file), reporter_(reporter) {}

  // Writes all of data; a short write reports the system error.
  bool Write(const void* data, size_t size) const;

 private:
  HANDLE file_;
  ZipReporter* reporter_;
};

}  // namespace stubframework::archive
