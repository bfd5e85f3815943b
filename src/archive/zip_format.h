// Record layouts of the ZIP container: signatures, fixed sizes and field
// offsets, and little-endian field access.
#pragma once

#include <cstddef>
#include <cstdint>

namespace stubframework::archive::format {

inline constexpr uint32_t kLocalHeaderSignature = 0x04034B50;
inline constexpr uint32_t kCentralHeaderSignature = 0x02014B50;
inline constexpr uint32_t kEndRecordSignature = 0x06054B50;

inline constexpr size_t kLocalHeaderSize = 30;
inline constexpr size_t kCentralHeaderSize = 46;
inline constexpr size_t kEndRecordSize = 22;
// The end record may be followed by a comment of up to 65535 bytes; nothing
// further back than that is searched.
inline constexpr uint64_t kEndRecordReach = 65535 + kEndRecordSize;

inline constexpr uint16_t kMethodStored = 0;
inline constexpr uint16_t kMethodDeflated = 8;

inline constexpr uint16_t kFlagEncrypted = 0x0001;
// For deflate: bits 1-2 = 01 declare maximum compression.
inline constexpr uint16_t kFlagMaximumCompression = 0x0002;

// Version 2.0: deflate, the oldest version that readers accept for it.
inline constexpr uint16_t kVersionNeeded = 20;
inline constexpr uint32_t kDosDirectoryAttribute = 0x10;

// Local header field offsets.
inline constexpr size_t kLocalNameLength = 26;
inline constexpr size_t kLocalExtraLength = 28;

// Central header field offsets.
inline constexpr size_t kCentralFlags = 8;
inline constexpr size_t kCentralMethod = 10;
inline constexpr size_t kCentralCrc = 16;
inline constexpr size_t kCentralCompressedSize = 20;
inline constexpr size_t kCentralSize = 24;
inline constexpr size_t kCentralNameLength = 28;
inline constexpr size_t kCentralExtraLength = 30;
inline constexpr size_t kCentralCommentLength = 32;
inline constexpr size_t kCentralExternalAttributes = 38;
inline constexpr size_t kCentralLocalHeaderOffset = 42;

// End record field offsets.
inline constexpr size_t kEndDiskNumber = 4;
inline constexpr size_t kEndDirectoryDisk = 6;
inline constexpr size_t kEndEntriesOnDisk = 8;
inline constexpr size_t kEndTotalEntries = 10;
inline constexpr size_t kEndDirectorySize = 12;
inline constexpr size_t kEndDirectoryOffset = 16;
inline constexpr size_t kEndCommentLength = 20;

inline uint16_t ReadLe16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t ReadLe32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}
inline void WriteLe16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void WriteLe32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

}  // namespace stubframework::archive::format
