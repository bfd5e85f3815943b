// One ranged request of a download from several sources: it asks one mirror
// for a run of blocks, collects each block in memory, hashes it and hands it
// to its owner, which writes it only when it verified.
#pragma once

#include <cstddef>

#include "base/critical_section.h"
#include "downloader/block_plan.h"
#include "downloader/buffer.h"
#include "downloader/interfaces.h"
#include "downloader/sha1_context.h"

namespace stubframework::downloader::details {

class Connection;

// What a connection reports to the download it serves; called on the
// request's WinINet threads.
struct ConnectionOwner {
  // A reference on the owner, for as long as the connection lives.
  virtual void Hold() = 0;
  virtual void Drop() = 0;
  // The answer's head: false ends the connection.
  virtual bool OnAnswer(Connection* connection, const HttpHeader& header) = 0;
  // Block `index` arrived whole; `matches` says whether it verified. False
  // ends the connection.
  virtual bool OnBlock(Connection* connection, size_t index, const uint8* data, size_t length, bool matches) = 0;
  // The request ended (once per connection).
  virtual void OnConnectionEnd(Connection* connection, long result) = 0;
  // The meta's digest of block `index`; false when there is none.
  virtual bool DigestOf(size_t index, uint8 digest[kDigestSize]) = 0;

 protected:
  ~ConnectionOwner() = default;
};

// One ranged request over a run of blocks. Its HttpTask's handlers come one
// at a time (one request); Abandon may come from any thread. The owner may
// shorten the run (Shorten, under the owner's lock) while it is received:
// the connection then stops at the new end, and a block past it that it was
// already filling is refused by the owner's OnBlock.
class Connection : public IHttpCallback {
 public:
  Connection(ConnectionOwner* owner, size_t mirror, const BlockRun& run, int64 size);
  ~Connection();
  bool Constructed() const { return block_.capacity() == static_cast<size_t>(kBlockSize); }

  void OnHttpHeader(const HttpHeader& header) override;
  void OnData(const Buffer& buffer) override;
  void OnComplete(long result) override;

  // Starts `task` unless the connection was abandoned first; then its end
  // is reported at once.
  void Launch(ITask* task);
  // No more of its data is used; its request is cancelled.
  void Abandon();
  bool abandoned() const { return abandoned_; }

  size_t mirror() const { return mirror_; }
  // The run as first planned; it ends at end() now.
  const BlockRun& run() const { return run_; }
  size_t end() const { return end_; }
  // Gives blocks [end, end()) away; `end` lies after next_block().
  void Shorten(size_t end) { end_ = end; }
  // The block being received: the run's blocks before it have verified.
  size_t next_block() const { return next_block_; }
  bool run_done() const { return next_block_ >= end_; }

 private:
  ConnectionOwner* owner_;
  size_t mirror_;
  BlockRun run_;
  volatile size_t end_;  // written by the owner under its lock
  int64 size_;
  volatile size_t next_block_;  // written by the request's thread only
  Buffer block_;
  size_t filled_ = 0;
  Sha1Context sha1_;
  base::CriticalSection task_lock_;
  ITask* task_ = nullptr;
  volatile bool abandoned_ = false;
};

// Null when memory is missing. Holds a reference on `owner` until it is
// destroyed; the caller owns the one reference returned.
Connection* CreateConnection(ConnectionOwner* owner, size_t mirror, const BlockRun& run, int64 size);

}  // namespace stubframework::downloader::details
