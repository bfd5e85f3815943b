// HashTask: SHA-1 of each 1 MiB block of an open file, from its current
// position to its end, on a thread-pool thread. Cancel is seen between blocks.
#pragma once

#include <windows.h>

#include "downloader/interfaces.h"

namespace stubframework::downloader {

// `file` is open for reading and positioned by the caller; not owned.
ITask* CreateHashTask(HANDLE file, IHashCallback* callback);

// SHA-1 of `size` bytes with a fresh CryptoAPI provider context; false when the
// provider fails.
bool Sha1(const uint8* data, size_t size, uint8 digest[kDigestSize]);

}  // namespace stubframework::downloader
