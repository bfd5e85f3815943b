#include "downloader/buffer.h"

#include <cstdlib>

namespace stubframework::downloader {

Buffer::~Buffer() { free(data_); }

bool Buffer::SetSize(size_t n) {
  free(data_);
  data_ = nullptr;
  size_ = 0;
  capacity_ = 0;
  if (n == 0) return true;
  data_ = static_cast<uint8*>(malloc(n));
  if (data_ == nullptr) return false;
  size_ = n;
  capacity_ = n;
  return true;
}

}  // namespace stubframework::downloader
