// DigestLanes: SHA-1 digests of consecutive 1 MiB blocks computed on a few
// thread-pool threads ("lanes") and handed out in block order.
//
// A hash pass is bound by SHA-1, and blocks are independent: two lanes hash
// two blocks at once while the reader of the digests sees them one by one, in
// order, as from a single pass. A lane claims the next block from its
// BlockSource under the lanes' lock (a file read in sequence is read right
// there), hashes it outside the lock with its own provider context, and
// publishes the digest. Lanes stay at most kLaneWindow blocks ahead of the
// reader, so a pass that is stopped early wastes little.
#pragma once

#include <windows.h>

#include <memory>

#include "downloader/buffer.h"
#include "downloader/interfaces.h"
#include "downloader/sha1_context.h"

namespace stubframework::downloader::details {

inline constexpr size_t kLaneWindow = 4;
inline constexpr int kMaxHashLanes = 2;

// Where lanes take their blocks from. Every call but HashBlock is made with
// the lanes' lock held.
class BlockSource {
 public:
  enum Claim { kReady, kNotYet, kEnd, kFailed };

  virtual ~BlockSource() = default;

  // Bytes of working memory each lane needs (0: none).
  virtual size_t LaneBufferSize() const = 0;

  // Whether block `index` can be hashed now (kNotYet: wait for Advance). In
  // block order; a source read in sequence reads the block into `buffer`.
  // On kReady, `length` is the block's size.
  virtual Claim ClaimBlock(size_t index, Buffer& buffer, size_t* length) = 0;

  // The digest of a block this lane claimed. Called without the lock.
  virtual bool HashBlock(size_t index, const Buffer& buffer, size_t length, Sha1Context& sha1,
                         uint8 digest[kDigestSize]) = 0;

  // The bytes before `end` are final (for a source filled while it is hashed).
  virtual void Advance(int64 end) {}
};

class DigestLanes : public IObject {
 public:
  enum Next { kDigest, kEnd, kFailed };

  // Digests of the source's blocks from `first` on.
  DigestLanes(std::unique_ptr<BlockSource> source, size_t first);
  ~DigestLanes();
  DigestLanes(const DigestLanes&) = delete;
  DigestLanes& operator=(const DigestLanes&) = delete;

  // Queues `count` more lanes; false when none could be queued.
  bool AddLanes(int count);

  // The next block's digest, in block order, once a lane has it. kEnd after
  // the last block; kFailed when the source failed or no lane is left.
  Next NextDigest(uint8 digest[kDigestSize]);

  // Passes Advance(end) to the source and wakes lanes waiting for bytes.
  void Advance(int64 end);

  // Lanes finish the block in hand and end; returns when none runs any more
  // and the source is released (no lane touches it after this).
  void Stop();

 private:
  enum SlotState { kEmpty, kFull, kLast, kBroken };
  struct Slot {
    SlotState state = kEmpty;
    uint8 digest[kDigestSize] = {};
  };

  static DWORD WINAPI LaneMain(void* self);
  void RunLane();
  void Publish(size_t index, SlotState state, const uint8* digest);

  CRITICAL_SECTION lock_;
  CONDITION_VARIABLE changed_;
  std::unique_ptr<BlockSource> source_;
  size_t next_claim_;
  size_t next_out_;
  int running_ = 0;      // lanes queued and not yet ended
  bool stopped_ = false;
  bool ended_ = false;   // a claim or a hash met the end or a failure
  Slot slots_[kLaneWindow];
};

// Lanes to give a pass on this machine: one per processor, at most kMaxHashLanes.
int HashLaneCount();

}  // namespace stubframework::downloader::details
