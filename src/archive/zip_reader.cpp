#include "archive/zip_reader.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <utility>

#include "archive/zip_format.h"

namespace stubframework::archive {

namespace {

using namespace format;

constexpr size_t kScanWindow = 4096;
// Consecutive windows overlap by three bytes so that a signature across a
// window border is still seen.
constexpr size_t kScanStep = kScanWindow - 3;
constexpr size_t kChunkSize = 64 * 1024;
// Sizes and offsets of this value need the 64-bit extension, which archives
// read here never use.
constexpr uint32_t kZip64Marker = 0xFFFFFFFF;

class InflateStream {
 public:
  InflateStream() { ok_ = inflateInit2(&stream_, -MAX_WBITS) == Z_OK; }
  ~InflateStream() {
    if (ok_) inflateEnd(&stream_);
  }
  InflateStream(const InflateStream&) = delete;
  InflateStream& operator=(const InflateStream&) = delete;

  bool ok() const { return ok_; }
  z_stream* get() { return &stream_; }

 private:
  z_stream stream_{};
  bool ok_ = false;
};

// Hands out the central directory front to back, read in chunks of a fixed
// size: what the end record declares never decides how much is allocated.
class DirectoryCursor {
 public:
  DirectoryCursor(const ReadAtFunction& read, uint64_t position, uint64_t size)
      : read_(read),
        position_(position),
        end_(position + size),
        buffer_(static_cast<size_t>(std::min<uint64_t>(size, kChunkSize))) {}

  // False when fewer than size bytes of the directory are left, or a read fails.
  bool Read(void* out, size_t size) {
    if (size > end_ - position_) return false;
    uint8_t* target = static_cast<uint8_t*>(out);
    while (size > 0) {
      if (position_ < buffered_from_ || position_ - buffered_from_ >= buffered_) {
        size_t length = static_cast<size_t>(std::min<uint64_t>(buffer_.size(), end_ - position_));
        if (!read_(position_, buffer_.data(), length)) return false;
        buffered_from_ = position_;
        buffered_ = length;
      }
      size_t offset = static_cast<size_t>(position_ - buffered_from_);
      size_t length = std::min(size, buffered_ - offset);
      std::memcpy(target, buffer_.data() + offset, length);
      target += length;
      size -= length;
      position_ += length;
    }
    return true;
  }

  bool Skip(uint64_t size) {
    if (size > end_ - position_) return false;
    position_ += size;
    return true;
  }

 private:
  const ReadAtFunction& read_;
  uint64_t position_;
  const uint64_t end_;
  std::vector<uint8_t> buffer_;
  uint64_t buffered_from_ = 0;
  size_t buffered_ = 0;
};

}  // namespace

bool ZipEntry::IsDirectory() const {
  if (name_ends_in_slash) return true;
  return size == 0 && (external_attributes & kDosDirectoryAttribute) != 0;
}

bool FindEndRecord(uint64_t file_size, const ReadAtFunction& read, uint64_t* position) {
  if (file_size < kEndRecordSize) return false;
  uint8_t window[kScanWindow];
  uint64_t start = file_size > kScanWindow ? file_size - kScanWindow : 0;
  for (;;) {
    size_t length = static_cast<size_t>(std::min<uint64_t>(kScanWindow, file_size - start));
    if (!read(start, window, length)) return false;
    for (size_t i = length - 4 + 1; i-- > 0;) {
      if (ReadLe32(window + i) == kEndRecordSignature && file_size - (start + i) >= kEndRecordSize) {
        *position = start + i;
        return true;
      }
    }
    if (start == 0 || file_size - start >= kEndRecordReach) return false;
    start = start > kScanStep ? start - kScanStep : 0;
  }
}

bool ZipReader::Open(uint64_t file_size, ReadAtFunction read) {
  read_ = std::move(read);
  entries_.clear();
  directory_size_ = 0;
  archive_end_ = 0;

  uint64_t end_position = 0;
  if (!FindEndRecord(file_size, read_, &end_position)) return false;
  uint8_t end[kEndRecordSize];
  if (!read_(end_position, end, sizeof(end))) return false;

  uint16_t disk = ReadLe16(end + kEndDiskNumber);
  uint16_t directory_disk = ReadLe16(end + kEndDirectoryDisk);
  uint16_t entries_on_disk = ReadLe16(end + kEndEntriesOnDisk);
  uint16_t total_entries = ReadLe16(end + kEndTotalEntries);
  uint32_t directory_size = ReadLe32(end + kEndDirectorySize);
  uint32_t directory_offset = ReadLe32(end + kEndDirectoryOffset);
  archive_end_ = end_position + kEndRecordSize + ReadLe16(end + kEndCommentLength);

  if (entries_on_disk != total_entries) return false;
  bool single_disk = (disk == 0 && directory_disk == 0) || (disk == 1 && directory_disk == 1);
  if (!single_disk) return false;
  if (directory_size < static_cast<uint64_t>(total_entries) * kCentralHeaderSize) return false;
  if (static_cast<uint64_t>(directory_offset) + directory_size > file_size) return false;
  // The directory is the directory-size bytes right before the end record;
  // where the archive starts follows from the offset stored for it.
  if (directory_size > end_position) return false;
  directory_position_ = end_position - directory_size;
  if (directory_position_ < directory_offset) return false;
  base_offset_ = directory_position_ - directory_offset;
  directory_size_ = directory_size;
  return ReadDirectory(total_entries) && LocateEntryData();
}

uint64_t ZipReader::DeclaredSize() const {
  uint64_t total = 0;
  for (const ZipEntry& entry : entries_) total += entry.size;
  return total;
}

bool ZipReader::ReadDirectory(uint32_t entry_count) {
  DirectoryCursor cursor(read_, directory_position_, directory_size_);
  // At most 65535 entries, each with a name cut to the limit: a bounded list.
  entries_.reserve(entry_count);
  for (uint32_t i = 0; i < entry_count; ++i) {
    uint8_t header[kCentralHeaderSize];
    if (!cursor.Read(header, sizeof(header))) return false;
    if (ReadLe32(header) != kCentralHeaderSignature) return false;
    size_t name_length = ReadLe16(header + kCentralNameLength);
    size_t kept_length = std::min(name_length, kEntryNameLimit);

    ZipEntry entry;
    entry.name.resize(kept_length);
    if (kept_length != 0 && !cursor.Read(&entry.name[0], kept_length)) return false;
    if (name_length > kept_length) {
      // Only the last character of the rest matters: whether the name ends in "/".
      if (!cursor.Skip(name_length - kept_length - 1)) return false;
      char last = 0;
      if (!cursor.Read(&last, 1)) return false;
      entry.name_ends_in_slash = last == '/';
    } else {
      entry.name_ends_in_slash = !entry.name.empty() && entry.name.back() == '/';
    }
    if (!cursor.Skip(static_cast<uint64_t>(ReadLe16(header + kCentralExtraLength)) +
                     ReadLe16(header + kCentralCommentLength))) {
      return false;
    }
    entry.flags = ReadLe16(header + kCentralFlags);
    entry.method = ReadLe16(header + kCentralMethod);
    entry.crc = ReadLe32(header + kCentralCrc);
    entry.compressed_size = ReadLe32(header + kCentralCompressedSize);
    entry.size = ReadLe32(header + kCentralSize);
    entry.external_attributes = ReadLe32(header + kCentralExternalAttributes);
    uint32_t local_offset = ReadLe32(header + kCentralLocalHeaderOffset);

    if (entry.compressed_size == kZip64Marker || entry.size == kZip64Marker || local_offset == kZip64Marker) {
      return false;
    }
    if (entry.method == kMethodStored && entry.compressed_size != entry.size) return false;
    if (entry.size != 0 && entry.compressed_size == 0) return false;
    entry.local_header_position = base_offset_ + local_offset;
    entries_.push_back(std::move(entry));
  }
  return true;
}

// Entries that share bytes would let a small archive write without limit, and
// data that runs into the directory is not the entry's own: both fail the
// archive. Each entry's bytes run from its local header to the end of its
// compressed data.
bool ZipReader::LocateEntryData() {
  std::vector<std::pair<uint64_t, uint64_t>> ranges;
  ranges.reserve(entries_.size());
  for (ZipEntry& entry : entries_) {
    if (entry.local_header_position > directory_position_ ||
        directory_position_ - entry.local_header_position < kLocalHeaderSize) {
      return false;
    }
    uint8_t header[kLocalHeaderSize];
    if (!read_(entry.local_header_position, header, sizeof(header))) return false;
    if (ReadLe32(header) != kLocalHeaderSignature) return false;
    entry.data_position = entry.local_header_position + kLocalHeaderSize + ReadLe16(header + kLocalNameLength) +
                          ReadLe16(header + kLocalExtraLength);
    uint64_t data_end = entry.data_position + entry.compressed_size;
    if (data_end > directory_position_) return false;
    ranges.emplace_back(entry.local_header_position, data_end);
  }
  std::sort(ranges.begin(), ranges.end());
  for (size_t i = 1; i < ranges.size(); ++i) {
    if (ranges[i].first < ranges[i - 1].second) return false;
  }
  return true;
}

bool ZipReader::ExtractEntry(size_t index, const WriteFunction& write) const {
  if (index >= entries_.size()) return false;
  const ZipEntry& entry = entries_[index];
  if (entry.flags & kFlagEncrypted) return false;
  if (entry.method != kMethodStored && entry.method != kMethodDeflated) return false;
  return entry.method == kMethodStored ? CopyStored(entry, entry.data_position, write)
                                       : Inflate(entry, entry.data_position, write);
}

bool ZipReader::CopyStored(const ZipEntry& entry, uint64_t data_position, const WriteFunction& write) const {
  std::vector<uint8_t> buffer(std::min<size_t>(kChunkSize, std::max<uint32_t>(entry.size, 1)));
  uLong crc = crc32(0L, Z_NULL, 0);
  uint64_t remaining = entry.size;
  while (remaining > 0) {
    size_t length = static_cast<size_t>(std::min<uint64_t>(remaining, buffer.size()));
    if (!read_(data_position, buffer.data(), length)) return false;
    crc = crc32(crc, buffer.data(), static_cast<uInt>(length));
    if (!write(buffer.data(), length)) return false;
    data_position += length;
    remaining -= length;
  }
  return crc == entry.crc;
}

bool ZipReader::Inflate(const ZipEntry& entry, uint64_t data_position, const WriteFunction& write) const {
  InflateStream inflater;
  if (!inflater.ok()) return false;
  z_stream* stream = inflater.get();
  std::vector<uint8_t> input(std::min<size_t>(kChunkSize, std::max<uint32_t>(entry.compressed_size, 1)));
  std::vector<uint8_t> output(kChunkSize);
  uLong crc = crc32(0L, Z_NULL, 0);
  uint64_t input_left = entry.compressed_size;
  uint64_t written = 0;

  for (int status = Z_OK; status != Z_STREAM_END;) {
    if (stream->avail_in == 0 && input_left > 0) {
      size_t length = static_cast<size_t>(std::min<uint64_t>(input_left, input.size()));
      if (!read_(data_position, input.data(), length)) return false;
      data_position += length;
      input_left -= length;
      stream->next_in = input.data();
      stream->avail_in = static_cast<uInt>(length);
    }
    stream->next_out = output.data();
    stream->avail_out = static_cast<uInt>(output.size());
    status = inflate(stream, Z_NO_FLUSH);
    // Z_BUF_ERROR here means the compressed data ended before the stream did.
    if (status != Z_OK && status != Z_STREAM_END) return false;
    size_t produced = output.size() - stream->avail_out;
    if (produced == 0) continue;
    written += produced;
    // More output than the directory promised: stop before writing it.
    if (written > entry.size) return false;
    crc = crc32(crc, output.data(), static_cast<uInt>(produced));
    if (!write(output.data(), produced)) return false;
  }
  return written == entry.size && crc == entry.crc;
}

}  // namespace stubframework::archive
