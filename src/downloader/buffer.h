// A heap block owned by whoever created it.
#pragma once

#include <cstddef>

#include "downloader/interfaces.h"

namespace stubframework::downloader {

class Buffer {
 public:
  Buffer() = default;
  ~Buffer();
  Buffer(const Buffer&) = delete;
  Buffer& operator=(const Buffer&) = delete;
  Buffer(Buffer&& other) noexcept : data_(other.data_), size_(other.size_), capacity_(other.capacity_) {
    other.data_ = nullptr;
    other.size_ = 0;
    other.capacity_ = 0;
  }

  // Frees the old block and allocates n bytes; a failed allocation leaves
  // size 0 and returns false. SetSize(0) just frees.
  bool SetSize(size_t n);

  // For a block reused from read to read: the first n bytes are the content.
  // n is at most capacity(); a larger n is cut to it.
  void SetLength(size_t n) { size_ = n < capacity_ ? n : capacity_; }

  uint8* data() const { return data_; }
  size_t size() const { return size_; }
  // Bytes allocated by the last SetSize.
  size_t capacity() const { return capacity_; }

 private:
  uint8* data_ = nullptr;
  size_t size_ = 0;
  size_t capacity_ = 0;
};

}  // namespace stubframework::downloader
