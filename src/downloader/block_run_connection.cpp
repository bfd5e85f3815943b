#include "downloader/block_run_connection.h"

#include <algorithm>
#include <cstring>

#include "downloader/object.h"
#include "downloader/result_codes.h"

namespace stubframework::downloader::details {

using base::ScopedLock;

Connection::Connection(ConnectionOwner* owner, size_t mirror, const BlockRun& run, int64 size)
    : owner_(owner), mirror_(mirror), run_(run), end_(run.first + run.count), size_(size), next_block_(run.first) {
  owner_->Hold();
  block_.SetSize(static_cast<size_t>(kBlockSize));
}

Connection::~Connection() {
  if (task_ != nullptr) task_->Release();
  owner_->Drop();
}

void Connection::Launch(ITask* task) {
  bool start = false;
  {
    ScopedLock hold(task_lock_);
    if (!abandoned_) {
      task_ = task;
      task_->AddRef();
      start = true;
    }
  }
  if (start) {
    task->Start();
  } else {
    OnComplete(kResultAbort);
  }
}

void Connection::Abandon() {
  ITask* task = nullptr;
  {
    ScopedLock hold(task_lock_);
    abandoned_ = true;
    task = task_;
    if (task != nullptr) task->AddRef();
  }
  if (task == nullptr) return;
  task->Cancel();
  task->Release();
}

void Connection::OnHttpHeader(const HttpHeader& header) {
  if (abandoned_) return;
  if (!owner_->OnAnswer(this, header)) Abandon();
}

void Connection::OnData(const Buffer& buffer) {
  const uint8* data = buffer.data();
  size_t left = buffer.size();
  while (left > 0 && !abandoned_ && !run_done()) {
    const int64 begin = static_cast<int64>(next_block_) * kBlockSize;
    const size_t length = static_cast<size_t>(std::min(begin + kBlockSize, size_) - begin);
    const size_t take = std::min(left, length - filled_);
    memcpy(block_.data() + filled_, data, take);
    filled_ += take;
    data += take;
    left -= take;
    if (filled_ < length) break;
    uint8 digest[kDigestSize];
    uint8 expected[kDigestSize];
    bool matches = sha1_.Digest(block_.data(), length, digest) && owner_->DigestOf(next_block_, expected) &&
                   memcmp(digest, expected, kDigestSize) == 0;
    filled_ = 0;
    if (!owner_->OnBlock(this, next_block_, block_.data(), length, matches)) {
      Abandon();
      return;
    }
    next_block_ = next_block_ + 1;
  }
  // The whole run arrived; a server that sends more (a 200 of the whole
  // file, or the part of a shortened run another connection fetches) is not
  // listened to any further.
  if (run_done() && (left > 0 || end_ < run_.first + run_.count)) Abandon();
}

void Connection::OnComplete(long result) {
  details::ScopedReference hold(this);
  owner_->OnConnectionEnd(this, result);
}

Connection* CreateConnection(ConnectionOwner* owner, size_t mirror, const BlockRun& run, int64 size) {
  return Object<Connection>::Create(owner, mirror, run, size);
}

}  // namespace stubframework::downloader::details
