// CRC-32 of a whole file (the ZIP and zlib checksum), read in 1 MiB chunks.
#pragma once

#include <cstdint>
#include <string>

namespace stubframework::archive {

// False when the file cannot be opened (it is opened sharing nothing) or read.
bool FileCrc(const std::wstring& path, uint32_t* crc);

// The CRC as unsigned decimal text; "0" when it cannot be computed.
std::wstring FileCrcText(const std::wstring& path);

}  // namespace stubframework::archive
