#include "downloader/digest_lanes.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace stubframework::downloader::details {

DigestLanes::DigestLanes(std::unique_ptr<BlockSource> source, size_t first, size_t window)
    : source_(std::move(source)),
      window_(window > 0 ? window : 1),
      slots_(window_ <= SIZE_MAX / sizeof(Slot) ? static_cast<Slot*>(calloc(window_, sizeof(Slot))) : nullptr),
      next_claim_(first),
      next_out_(first) {
  ::InitializeConditionVariable(&changed_);
}

DigestLanes::~DigestLanes() { free(slots_); }

// Waits for `changed_`, leaving the lock the caller holds while it sleeps.
void DigestLanes::WaitForChange() { ::SleepConditionVariableCS(&changed_, lock_.native(), INFINITE); }

bool DigestLanes::AddLanes(int count) {
  bool any = false;
  for (int i = 0; i < count; ++i) {
    {
      base::ScopedLock lock(lock_);
      if (stopped_ || ended_ || slots_ == nullptr) break;
      ++running_;
    }
    AddRef();  // the lane's
    if (::QueueUserWorkItem(&DigestLanes::LaneMain, this, WT_EXECUTELONGFUNCTION)) {
      any = true;
      continue;
    }
    {
      base::ScopedLock lock(lock_);
      --running_;
      ::WakeAllConditionVariable(&changed_);
    }
    Release();
    break;
  }
  return any;
}

void DigestLanes::AddLanesOnAdvance(int count) {
  base::ScopedLock lock(lock_);
  on_advance_ += count;
}

DWORD WINAPI DigestLanes::LaneMain(void* self) {
  static_cast<DigestLanes*>(self)->RunLane();
  return 0;
}

// With the lock held.
bool DigestLanes::PrepareLane(Lane& lane) {
  size_t size = source_ != nullptr ? source_->LaneBufferSize() : 0;
  return lane.buffer.capacity() >= size || lane.buffer.SetSize(size);
}

void DigestLanes::RunLane() {
  LPTHREAD_START_ROUTINE next = nullptr;
  void* next_context = nullptr;
  {
    Lane lane;
    base::ScopedLock lock(lock_);
    if (!stopped_ && PrepareLane(lane)) {
      while (!stopped_ && !ended_ && handover_ == nullptr) {
        if (!Work(lane)) WaitForChange();
      }
    }
    next = handover_;
    next_context = handover_context_;
    handover_ = nullptr;
    --running_;
    ::WakeAllConditionVariable(&changed_);
  }
  if (next != nullptr) next(next_context);
  Release();
}

bool DigestLanes::HandOver(LPTHREAD_START_ROUTINE routine, void* context) {
  base::ScopedLock lock(lock_);
  bool taken = running_ > 0 && !stopped_ && handover_ == nullptr;
  if (taken) {
    handover_ = routine;
    handover_context_ = context;
    ::WakeAllConditionVariable(&changed_);
  }
  return taken;
}

// With the lock held (released while the block is hashed): claims the next
// block and hashes it. False when there was nothing to take: the window is
// full, the bytes are not there yet, or the lanes have ended.
bool DigestLanes::Work(Lane& lane) {
  if (stopped_ || ended_ || slots_ == nullptr || next_claim_ >= next_out_ + window_) return false;
  size_t length = 0;
  BlockSource::Claim claim = source_->ClaimBlock(next_claim_, lane.buffer, &length);
  if (claim == BlockSource::kNotYet) return false;
  size_t index = next_claim_;
  if (claim != BlockSource::kReady) {
    Publish(index, claim == BlockSource::kEnd ? kLast : kBroken, nullptr);
    return true;
  }
  ++next_claim_;
  ++hashing_;
  uint8 digest[kDigestSize];
  bool hashed = false;
  {
    base::ScopedUnlock unlocked(lock_);
    hashed = source_->HashBlock(index, lane.buffer, length, lane.sha1, digest);
  }
  --hashing_;
  Publish(index, hashed ? kFull : kBroken, digest);
  return true;
}

// With the lock held.
void DigestLanes::Publish(size_t index, SlotState state, const uint8* digest) {
  Slot& slot = slots_[index % window_];
  slot.state = state;
  if (state == kFull) memcpy(slot.digest, digest, kDigestSize);
  if (state != kFull) ended_ = true;
  ::WakeAllConditionVariable(&changed_);
}

DigestLanes::Next DigestLanes::NextDigest(uint8 digest[kDigestSize], Lane* own) {
  base::ScopedLock lock(lock_);
  if (slots_ == nullptr) return kFailed;
  bool own_ready = own != nullptr && !stopped_ && PrepareLane(*own);
  Slot* slot = &slots_[next_out_ % window_];
  while (slot->state == kEmpty) {
    if (stopped_) return kFailed;
    if (own_ready && Work(*own)) continue;
    // Nobody hashes the block waited for, and nobody will.
    if (running_ == 0 && hashing_ == 0 && (ended_ || !own_ready)) return kFailed;
    WaitForChange();
  }
  Next next = slot->state == kFull ? kDigest : slot->state == kLast ? kEnd : kFailed;
  if (next == kDigest) {
    memcpy(digest, slot->digest, kDigestSize);
    slot->state = kEmpty;
    ++next_out_;
    ::WakeAllConditionVariable(&changed_);
  }
  return next;
}

void DigestLanes::Advance(int64 end) {
  int start = 0;
  {
    base::ScopedLock lock(lock_);
    if (source_ != nullptr) source_->Advance(end);
    start = on_advance_;
    on_advance_ = 0;
    ::WakeAllConditionVariable(&changed_);
  }
  if (start > 0) AddLanes(start);
}

void DigestLanes::Stop() {
  std::unique_ptr<BlockSource> source;
  base::ScopedLock lock(lock_);
  stopped_ = true;
  on_advance_ = 0;
  ::WakeAllConditionVariable(&changed_);
  while (running_ > 0 || hashing_ > 0) WaitForChange();
  source = std::move(source_);
}

int HashLaneCount() {
  SYSTEM_INFO info;
  ::GetSystemInfo(&info);
  int processors = static_cast<int>(info.dwNumberOfProcessors);
  return processors < 1 ? 1 : processors < kMaxHashLanes ? processors : kMaxHashLanes;
}

}  // namespace stubframework::downloader::details
