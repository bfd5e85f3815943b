// A heap block owned by whoever created it.
#pragma once

#include <cstddef>

#include "downloader/interfaces.h"

namespace downloader {

class Buffer {
 public:
  Buffer() = default;
  ~Buffer();
  Buffer(const Buffer&) = delete;
  Buffer& operator=(const Buffer&) = delete;

  // Frees the old block and allocates n bytes; a failed allocation leaves
  // size 0 and returns false. SetSize(0) just frees.
  bool SetSize(size_t n);

  uint8* data() const { return data_; }
  size_t size() const { return size_; }

 private:
  uint8* data_ = nullptr;
  size_t size_ = 0;
};

}  // namespace downloader
