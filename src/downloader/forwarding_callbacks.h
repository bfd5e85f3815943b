// The callbacks a download task hands to its sub-tasks (the .meta transfer,
// the pass over what the file holds): each forwards to its owner's handler of
// the same name. A plain pointer to the owner, which holds a reference on the
// sub-task that holds the callback; each end is forwarded under a reference
// on the owner, because the owner's end may drop its last one. An owner
// whose handlers are private names these classes its friends.
#pragma once

#include "downloader/interfaces.h"
#include "downloader/object.h"

namespace stubframework::downloader::details {

// Owner: ITask with OnMetaComplete(const HttpToMemResult&).
template <typename Owner>
class MetaForwarder : public ITaskCallback<HttpToMemResult&&> {
 public:
  explicit MetaForwarder(Owner* owner) : owner_(owner) {}
  void OnComplete(HttpToMemResult&& result) override {
    ScopedReference hold(owner_);
    owner_->OnMetaComplete(result);
  }

 private:
  Owner* owner_;  // Not owned: outlives the sub-task that holds this.
};

// Owner: ITask with OnHash(const uint8*) and OnHashComplete(HashResult).
template <typename Owner>
class HashForwarder : public IHashCallback {
 public:
  explicit HashForwarder(Owner* owner) : owner_(owner) {}
  void OnComplete(HashResult result) override {
    ScopedReference hold(owner_);
    owner_->OnHashComplete(result);
  }
  void OnHash(const uint8 digest[kDigestSize]) override { owner_->OnHash(digest); }

 private:
  Owner* owner_;  // Not owned: outlives the sub-task that holds this.
};

}  // namespace stubframework::downloader::details
