// HashTask: SHA-1 of each 1 MiB block of an open file, from its current
// position to its end, on a thread-pool thread. Cancel is seen between blocks.
#pragma once

#include <windows.h>

#include "downloader/digest_lanes.h"
#include "downloader/interfaces.h"
#include "downloader/sha1_context.h"

namespace stubframework::downloader {

// `file` is open for reading and positioned by the caller; not owned.
ITask* CreateHashTask(HANDLE file, IHashCallback* callback);

// The same pass over digests that lanes compute (a block follower's, see
// block_follower.h): OnHash for each of their blocks in order, cancel between
// blocks. Takes a reference on `lanes` and stops them when the pass ends.
ITask* CreateHashTask(details::DigestLanes* lanes, IHashCallback* callback);

}  // namespace stubframework::downloader
