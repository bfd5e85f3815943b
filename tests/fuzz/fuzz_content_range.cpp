// Content-Range: what the parser accepts is a range inside its total.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "downloader/content_range.h"

namespace details = stubframework::downloader::details;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  long long offset = -1;
  long long length = -1;
  long long total = -1;
  if (details::ParseContentRange(text, &offset, &length, &total)) {
    if (offset < 0 || length < 1 || total < 1) abort();
    if (offset > total - length) abort();
  }
  return 0;
}
