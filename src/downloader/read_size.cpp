#include "downloader/read_size.h"

#include <algorithm>

namespace stubframework::downloader {

size_t NextReadSize(size_t asked, size_t got, int64 micros) {
  asked = std::clamp(asked, kMinReadSize, kMaxReadSize);
  if (micros > kTargetReadMicros) {
    // Too slow for the stop to land soon: what the measured rate fills in the
    // target time, rounded down to a power of two.
    unsigned long long fits = static_cast<unsigned long long>(got) * kTargetReadMicros / micros;
    size_t size = kMinReadSize;
    while (size * 2 <= fits) size *= 2;
    return size;
  }
  // A read that came back short ended with the body (or met a slow server
  // that said nothing yet about its rate): keep the size.
  if (got < asked) return asked;
  if (micros * 2 <= kTargetReadMicros) return std::min(asked * 2, kMaxReadSize);
  return asked;
}

size_t ReadRequestSize(size_t sized, size_t available) {
  if (available < kMinReadSize) return available;
  return std::min(std::max(sized, available), kMaxReadSize);
}

}  // namespace stubframework::downloader
