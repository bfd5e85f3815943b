// The ZIP reader over a read callback: the end record search, the central
// directory walk, the local headers and the extraction of every entry. What
// it opens lies inside the input, and extraction writes no more than an
// entry declares.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "archive/zip_reader.h"

namespace archive = stubframework::archive;

namespace {
// Per input, so that an archive of huge declared entries stays quick.
constexpr uint64_t kWriteBudget = 8u << 20;
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto read = [data, size](uint64_t offset, void* buffer, size_t length) {
    if (offset > size || length > size - offset) return false;
    memcpy(buffer, data + offset, length);
    return true;
  };
  archive::ZipReader reader;
  if (!reader.Open(size, read)) return 0;
  if (reader.directory_position() > size || reader.directory_size() > size - reader.directory_position()) abort();
  uint64_t budget = kWriteBudget;
  for (size_t i = 0; i < reader.entries().size(); ++i) {
    const archive::ZipEntry& entry = reader.entries()[i];
    if (entry.name.size() > archive::kEntryNameLimit) abort();
    if (entry.data_position > reader.directory_position()) abort();
    if (entry.compressed_size > reader.directory_position() - entry.data_position) abort();
    uint64_t written = 0;
    reader.ExtractEntry(i, [&](const void*, size_t n) {
      written += n;
      if (written > entry.size) abort();  // more than the directory declares
      if (n > budget) return false;
      budget -= n;
      return true;
    });
  }
  return 0;
}
