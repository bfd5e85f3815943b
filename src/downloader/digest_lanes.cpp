#include "downloader/digest_lanes.h"

#include <cstring>

namespace stubframework::downloader::details {

DigestLanes::DigestLanes(std::unique_ptr<BlockSource> source, size_t first)
    : source_(std::move(source)), next_claim_(first), next_out_(first) {
  ::InitializeCriticalSection(&lock_);
  ::InitializeConditionVariable(&changed_);
}

DigestLanes::~DigestLanes() { ::DeleteCriticalSection(&lock_); }

bool DigestLanes::AddLanes(int count) {
  bool any = false;
  for (int i = 0; i < count; ++i) {
    ::EnterCriticalSection(&lock_);
    bool open = !stopped_ && !ended_;
    if (open) ++running_;
    ::LeaveCriticalSection(&lock_);
    if (!open) break;
    AddRef();  // the lane's
    if (::QueueUserWorkItem(&DigestLanes::LaneMain, this, WT_EXECUTELONGFUNCTION)) {
      any = true;
      continue;
    }
    ::EnterCriticalSection(&lock_);
    --running_;
    ::WakeAllConditionVariable(&changed_);
    ::LeaveCriticalSection(&lock_);
    Release();
    break;
  }
  return any;
}

DWORD WINAPI DigestLanes::LaneMain(void* self) {
  static_cast<DigestLanes*>(self)->RunLane();
  return 0;
}

void DigestLanes::RunLane() {
  ::EnterCriticalSection(&lock_);
  size_t buffer_size = stopped_ ? 0 : source_->LaneBufferSize();
  ::LeaveCriticalSection(&lock_);
  Sha1Context sha1;
  Buffer buffer;
  bool usable = sha1.ok() && (buffer_size == 0 || buffer.SetSize(buffer_size));

  ::EnterCriticalSection(&lock_);
  while (usable && !stopped_ && !ended_) {
    if (next_claim_ >= next_out_ + kLaneWindow) {
      ::SleepConditionVariableCS(&changed_, &lock_, INFINITE);
      continue;
    }
    size_t length = 0;
    BlockSource::Claim claim = source_->ClaimBlock(next_claim_, buffer, &length);
    if (claim == BlockSource::kNotYet) {
      ::SleepConditionVariableCS(&changed_, &lock_, INFINITE);
      continue;
    }
    size_t index = next_claim_;
    if (claim != BlockSource::kReady) {
      Publish(index, claim == BlockSource::kEnd ? kLast : kBroken, nullptr);
      break;
    }
    ++next_claim_;
    ::LeaveCriticalSection(&lock_);
    uint8 digest[kDigestSize];
    bool hashed = source_->HashBlock(index, buffer, length, sha1, digest);
    ::EnterCriticalSection(&lock_);
    Publish(index, hashed ? kFull : kBroken, digest);
  }
  --running_;
  ::WakeAllConditionVariable(&changed_);
  ::LeaveCriticalSection(&lock_);
  Release();
}

// With the lock held.
void DigestLanes::Publish(size_t index, SlotState state, const uint8* digest) {
  Slot& slot = slots_[index % kLaneWindow];
  slot.state = state;
  if (state == kFull) memcpy(slot.digest, digest, kDigestSize);
  if (state != kFull) ended_ = true;
  ::WakeAllConditionVariable(&changed_);
}

DigestLanes::Next DigestLanes::NextDigest(uint8 digest[kDigestSize]) {
  ::EnterCriticalSection(&lock_);
  Slot* slot = &slots_[next_out_ % kLaneWindow];
  while (slot->state == kEmpty) {
    if (running_ == 0 || stopped_) {
      ::LeaveCriticalSection(&lock_);
      return kFailed;
    }
    ::SleepConditionVariableCS(&changed_, &lock_, INFINITE);
  }
  Next next = slot->state == kFull ? kDigest : slot->state == kLast ? kEnd : kFailed;
  if (next == kDigest) {
    memcpy(digest, slot->digest, kDigestSize);
    slot->state = kEmpty;
    ++next_out_;
    ::WakeAllConditionVariable(&changed_);
  }
  ::LeaveCriticalSection(&lock_);
  return next;
}

void DigestLanes::Advance(int64 end) {
  ::EnterCriticalSection(&lock_);
  if (source_ != nullptr) source_->Advance(end);
  ::WakeAllConditionVariable(&changed_);
  ::LeaveCriticalSection(&lock_);
}

void DigestLanes::Stop() {
  ::EnterCriticalSection(&lock_);
  stopped_ = true;
  ::WakeAllConditionVariable(&changed_);
  while (running_ > 0) ::SleepConditionVariableCS(&changed_, &lock_, INFINITE);
  std::unique_ptr<BlockSource> source = std::move(source_);
  ::LeaveCriticalSection(&lock_);
}

int HashLaneCount() {
  SYSTEM_INFO info;
  ::GetSystemInfo(&info);
  int processors = static_cast<int>(info.dwNumberOfProcessors);
  return processors < 1 ? 1 : processors < kMaxHashLanes ? processors : kMaxHashLanes;
}

}  // namespace stubframework::downloader::details
