// The two range headers of a ranged transfer, without Windows headers (the
// parser also builds natively, for fuzzing).
#pragma once

#include <string>

#include "downloader/block_format.h"

namespace stubframework::downloader::details {

// Reads "bytes FIRST-LAST/TOTAL" (decimal digits only; one or more blanks
// after the unit) into offset, length and total. False for any other shape (a
// "*" total, a sign, blanks elsewhere, trailing text), for FIRST > LAST, for
// LAST >= TOTAL and for numbers beyond 63 bits.
bool ParseContentRange(const std::string& text, int64* offset, int64* length, int64* total);

// The value of a Content-Length header (digits, blanks around them allowed);
// -1 for anything else, a number beyond 63 bits included.
int64 ParseContentLength(const std::string& text);

// "Range: bytes=OFFSET-LAST" for a range of `size` bytes at `offset`.
std::string RangeHeader(int64 offset, int64 size);

}  // namespace stubframework::downloader::details
