// HashTask's states (HashState below), under its lock:
//   kCreated --Start--> kRunning: a pass on a thread-pool thread (or on a
//                       running lane's thread, handed over), OnHash per block
//   kRunning --Cancel--> kCancelRequested: seen by the pass between blocks
//   the pass ends (all blocks, a cancel, a failure) --> OnComplete once, from
//                       the pass's thread; the pass's reference dropped
#include "downloader/hash_task.h"

#include <memory>
#include <new>

#include "base/critical_section.h"
#include "downloader/file_block_source.h"
#include "downloader/object.h"

namespace stubframework::downloader {
namespace {

using details::DigestLanes;

enum HashState : int32_t { kCreated = 0, kRunning = 1, kCancelRequested = 2 };

class HashTask : public ITask {
 public:
  // A pass over `file` makes its own lanes when it starts; a pass over
  // `lanes` reads what they compute.
  HashTask(HANDLE file, DigestLanes* lanes, IHashCallback* callback)
      : file_(file), lanes_(lanes), callback_(callback) {
    callback_->AddRef();
    if (lanes_ != nullptr) lanes_->AddRef();
  }

  ~HashTask() {
    if (callback_ != nullptr) callback_->Release();
    if (lanes_ != nullptr) {
      lanes_->Stop();
      lanes_->Release();
    }
  }

  void Start() override {
    {
      base::ScopedLock lock(lock_);
      if (state_ != kCreated) return;
      state_ = kRunning;
    }
    AddRef();  // the pass
    // A pass over lanes that run takes over a lane's thread rather than
    // adding one.
    if (lanes_ != nullptr && lanes_->HandOver(&HashTask::Pass, this)) return;
    if (!::QueueUserWorkItem(&HashTask::Pass, this, WT_EXECUTELONGFUNCTION)) End(Failed);
  }

  void Cancel() override {
    base::ScopedLock lock(lock_);
    if (state_ == kRunning) state_ = kCancelRequested;
  }

 private:
  static DWORD WINAPI Pass(void* self) {
    static_cast<HashTask*>(self)->Run();
    return 0;
  }

  bool CancelRequested() {
    base::ScopedLock lock(lock_);
    return state_ == kCancelRequested;
  }

  void Run() {
    HashResult result = RunBlocks();
    if (lanes_ != nullptr) lanes_->Stop();
    End(result);
  }

  // The pass hashes on its own thread. Over a file it starts alone: a pass
  // that stops at its first block (a fresh download finds zeros there) costs
  // one block's reading and no other thread. Once a block has been taken,
  // the other lanes join.
  HashResult RunBlocks() {
    bool own_lanes = lanes_ == nullptr;
    if (own_lanes) {
      std::unique_ptr<details::BlockSource> source(new (std::nothrow) details::FileBlockSource(file_));
      if (source == nullptr) return Failed;
      lanes_ = details::Object<DigestLanes>::Create(std::move(source), 0);
      if (lanes_ == nullptr || !lanes_->ok()) return Failed;
    }
    if (CancelRequested()) return Cancelled;
    // Over lanes that ran ahead (a follower), what is left of their work is
    // shared at once with the other lanes.
    if (!own_lanes) lanes_->AddLanes(details::HashLaneCount() - 1);
    DigestLanes::Lane lane;
    for (size_t block = 0;; ++block) {
      uint8 digest[kDigestSize];
      switch (lanes_->NextDigest(digest, &lane)) {
        case DigestLanes::kEnd:
          return Success;
        case DigestLanes::kFailed:
          return Failed;
        case DigestLanes::kDigest:
          break;
      }
      callback_->OnHash(digest);
      if (CancelRequested()) return Cancelled;
      if (own_lanes && block == 0) lanes_->AddLanes(details::HashLaneCount() - 1);
    }
  }

  void End(HashResult result) {
    IHashCallback* callback = callback_;
    callback_ = nullptr;
    callback->OnComplete(result);
    callback->Release();
    Release();
  }

  HANDLE file_;
  DigestLanes* lanes_;
  IHashCallback* callback_;
  int32_t state_ = kCreated;
  base::CriticalSection lock_;
};

}  // namespace

ITask* CreateHashTask(HANDLE file, IHashCallback* callback) {
  if (callback == nullptr || file == nullptr || file == INVALID_HANDLE_VALUE) return nullptr;
  return details::Object<HashTask>::Create(file, nullptr, callback);
}

ITask* CreateHashTask(details::DigestLanes* lanes, IHashCallback* callback) {
  if (callback == nullptr || lanes == nullptr) return nullptr;
  return details::Object<HashTask>::Create(INVALID_HANDLE_VALUE, lanes, callback);
}

}  // namespace stubframework::downloader
