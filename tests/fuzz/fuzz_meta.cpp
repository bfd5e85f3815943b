// The meta file: any bytes either parse into a meta whose block list matches
// its size, or are refused; the head check never admits a body longer than
// the size it announces needs.
#include <cstdint>
#include <cstdlib>

#include "downloader/download_meta.h"

namespace downloader = stubframework::downloader;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  downloader::DownloadMeta meta;
  if (downloader::ParseDownloadMeta(data, size, &meta)) {
    if (meta.size < 0) abort();
    if (static_cast<downloader::int64>(meta.digests.size()) != downloader::BlockCount(meta.size)) abort();
    if (downloader::MetaLength(meta.size) != static_cast<downloader::int64>(size)) abort();
    if (!downloader::MetaLengthFitsHead(data, static_cast<downloader::int64>(size))) abort();
  }
  if (size >= downloader::kMetaSizeField) {
    // Any announced length against the head: no crash, and a fitting length
    // is never above what the head's size needs.
    const downloader::int64 lengths[] = {0, static_cast<downloader::int64>(size), 8, INT64_MAX};
    for (downloader::int64 length : lengths) downloader::MetaLengthFitsHead(data, length);
  }
  return 0;
}
