// How many bytes one InternetReadFile of the HTTP task asks for.
//
// WinINet completes a read only when its buffer is full or the body ends, and
// under Wine closing the request does not end a read that waits for data: a
// stop lands, and the bytes already received are delivered, only when the read
// in progress completes. Big reads are what make a fast transfer cheap (one
// read and one write per MiB instead of per 8 KiB), so the size follows the
// rate: it doubles while reads that waited for the network complete quickly
// and falls at once to what the measured rate fills in kTargetReadMicros. A
// read asks beyond the bytes waiting only when at least kMinReadSize are
// (WinINet's own buffer under Wine is full: data outpaces the reader); a
// trickle is read as it comes.
#pragma once

#include <cstddef>

#include "downloader/interfaces.h"

namespace stubframework::downloader {

inline constexpr size_t kMinReadSize = 8192;
inline constexpr size_t kMaxReadSize = 1048576;
// The first read that waits for the network: twice what Wine's buffer holds.
inline constexpr size_t kFirstReadSize = 2 * kMinReadSize;
inline constexpr int64 kTargetReadMicros = 100000;

// The size of the read after one that asked for `asked` bytes and received
// `got` of them in `micros` microseconds. Always a power of two within
// [kMinReadSize, kMaxReadSize] when `asked` is.
size_t NextReadSize(size_t asked, size_t got, int64 micros);

// The bytes to ask for when `available` are known to be waiting and the rate
// suggests `sized`: exactly what is waiting when that is below kMinReadSize,
// else at least that, never more than the maximum.
size_t ReadRequestSize(size_t sized, size_t available);

}  // namespace stubframework::downloader
