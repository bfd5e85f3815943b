// Finding the UI bundle in an executable: the PE headers, the security
// directory and its certificate records, then the archive in the region they
// leave. Whatever the input, the region lies inside it and before the
// certificate table, and the archive opened ends the region.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "archive/bundle_region.h"

namespace archive = stubframework::archive;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto read = [data, size](uint64_t offset, void* buffer, size_t length) {
    if (offset > size || length > size - offset) return false;
    memcpy(buffer, data + offset, length);
    return true;
  };
  archive::BundleRegion region;
  if (archive::LocateBundleRegion(size, read, &region) != archive::BundleFault::kNone) return 0;
  if (region.begin > region.end || region.end > size) abort();
  if (!region.is_signed && region.end != size) abort();
  archive::ZipReader reader;
  if (archive::OpenBundle(size, read, &reader) != archive::BundleFault::kNone) return 0;
  const uint64_t region_size = region.end - region.begin;
  if (reader.archive_end() > region_size || region_size - reader.archive_end() > archive::kMaxBundlePadding) abort();
  return 0;
}
