// The blocks of an open file read in sequence from its current position: a
// block is what one ReadFile of 1 MiB returns (shorter only at the end).
#pragma once

#include <windows.h>

#include "downloader/digest_lanes.h"

namespace stubframework::downloader::details {

class FileBlockSource : public BlockSource {
 public:
  // `file` is not owned and must stay open while lanes run.
  explicit FileBlockSource(HANDLE file) : file_(file) {}

  size_t LaneBufferSize() const override { return static_cast<size_t>(kBlockSize); }
  Claim ClaimBlock(size_t index, Buffer& buffer, size_t* length) override;
  bool HashBlock(size_t index, const Buffer& buffer, size_t length, Sha1Context& sha1,
                 uint8 digest[kDigestSize]) override;

 private:
  HANDLE file_;
};

}  // namespace stubframework::downloader::details
