#include "downloader/file_block_source.h"

namespace stubframework::downloader::details {

BlockSource::Claim FileBlockSource::ClaimBlock(size_t, Buffer& buffer, size_t* length) {
  DWORD read = 0;
  if (!::ReadFile(file_, buffer.data(), static_cast<DWORD>(kBlockSize), &read, nullptr)) return kFailed;
  if (read == 0) return kEnd;
  *length = read;
  return kReady;
}

bool FileBlockSource::HashBlock(size_t, const Buffer& buffer, size_t length, Sha1Context& sha1,
                                uint8 digest[kDigestSize]) {
  return sha1.Digest(buffer.data(), length, digest);
}

}  // namespace stubframework::downloader::details
