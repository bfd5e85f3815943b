// DigestLanes: SHA-1 digests of consecutive 1 MiB blocks computed on a few
// threads ("lanes") and handed out in block order.
//
// A hash pass is bound by SHA-1, and blocks are independent: two lanes hash
// two blocks at once while the reader of the digests sees them one by one, in
// order, as from a single pass. A lane claims the next block from its
// BlockSource under the lanes' lock (a file read in sequence is read right
// there), hashes it outside the lock with its own provider context, and
// publishes the digest. Lanes stay at most `window` blocks ahead of the
// reader: a pass reading along keeps kLaneWindow, so that one stopped early
// wastes little; lanes that work before anyone reads (a transfer's follower)
// keep a digest for every block.
//
// The reader is a lane too: while the block it waits for has not been
// claimed, it claims and hashes blocks itself. A pass needs no thread of its
// own to hash, and thread-pool lanes only add speed (under Wine every thread
// costs about 1 MiB of resident memory).
#pragma once

#include <windows.h>

#include <memory>

#include "base/critical_section.h"
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

  // What a lane hashes with; the reader owns one to hash on its own thread.
  struct Lane {
    Sha1Context sha1;
    Buffer buffer;
  };

  // Digests of the source's blocks from `first` on, at most `window` kept
  // ahead of the reader.
  DigestLanes(std::unique_ptr<BlockSource> source, size_t first, size_t window = kLaneWindow);
  ~DigestLanes();
  DigestLanes(const DigestLanes&) = delete;
  DigestLanes& operator=(const DigestLanes&) = delete;

  // False when the digests' room could not be allocated.
  bool ok() const { return slots_ != nullptr; }

  // Queues `count` lanes on the thread pool now; false when none could be.
  bool AddLanes(int count);
  // Queues `count` lanes at the first Advance: by then the thread that made
  // the lanes may be back in the pool to take one.
  void AddLanesOnAdvance(int count);

  // The next block's digest, in block order. With `own`, the caller hashes
  // blocks no lane has taken; without, it waits for the lanes. kEnd after the
  // last block; kFailed when the source failed, the lanes were stopped, or no
  // one is left to hash the block.
  Next NextDigest(uint8 digest[kDigestSize], Lane* own);

  // Passes Advance(end) to the source and wakes lanes waiting for bytes.
  void Advance(int64 end);

  // Has a running lane end its lane work after the block in hand and run
  // `routine(context)` on its thread instead: the reader of the digests then
  // needs no thread of its own. False (nothing changes) when no lane runs.
  bool HandOver(LPTHREAD_START_ROUTINE routine, void* context);

  // Lanes (and a reader hashing on another thread) finish the block in hand
  // and end; returns when none hashes any more and the source is released (no
  // lane touches it after this). A reader waiting then gets kFailed.
  void Stop();

 private:
  enum SlotState { kEmpty, kFull, kLast, kBroken };
  struct Slot {
    SlotState state = kEmpty;
    uint8 digest[kDigestSize] = {};
  };

  static DWORD WINAPI LaneMain(void* self);
  void RunLane();
  bool PrepareLane(Lane& lane);
  void WaitForChange();
  bool Work(Lane& lane);
  void Publish(size_t index, SlotState state, const uint8* digest);

  base::CriticalSection lock_;
  CONDITION_VARIABLE changed_;
  std::unique_ptr<BlockSource> source_;
  size_t window_;
  Slot* slots_;           // window_ of them, block i in slots_[i % window_]
  size_t next_claim_;
  size_t next_out_;
  int running_ = 0;      // thread-pool lanes queued and not yet ended
  int hashing_ = 0;      // lanes (the reader's included) with a block in hand
  int on_advance_ = 0;   // lanes to queue at the first Advance
  LPTHREAD_START_ROUTINE handover_ = nullptr;  // what a lane runs next
  void* handover_context_ = nullptr;
  bool stopped_ = false;
  bool ended_ = false;   // a claim or a hash met the end or a failure
};

// Lanes a pass may use on this machine: one per processor, at most kMaxHashLanes.
int HashLaneCount();

}  // namespace stubframework::downloader::details
