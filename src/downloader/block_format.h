// The engine's unit of verification and its value types, without Windows
// headers: the meta file's parser builds from this alone (also natively, for
// fuzzing).
#pragma once

#include <cstddef>

namespace stubframework::downloader {

using int64 = long long;
using uint8 = unsigned char;

// The meta file lists one SHA-1 digest per block.
inline constexpr int64 kBlockSize = 1048576;
inline constexpr size_t kDigestSize = 20;

}  // namespace stubframework::downloader
