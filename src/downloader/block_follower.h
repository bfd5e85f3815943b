// Digests of a file's blocks while a transfer is still writing it: a lane
// hashes each block once the writer reports it complete (Advance), reading it
// through a view of the file, so neither the writer's file position nor the
// file's sharing is touched. The transfer and the hashing of what it has
// written overlap; the hash pass after the transfer then finds its digests
// ready (CreateHashTask with lanes).
#pragma once

#include <windows.h>

#include "downloader/digest_lanes.h"

namespace stubframework::downloader {

// Lanes for blocks [first, BlockCount(size)) of `file` (open for reading and
// already `size` bytes long), with one lane that starts at the first Advance;
// null when the file cannot be mapped. The caller owns the reference returned
// and calls Advance(end) as bytes become final and Stop() when it no longer
// needs them.
details::DigestLanes* CreateBlockFollower(HANDLE file, int64 size, size_t first);

}  // namespace stubframework::downloader
