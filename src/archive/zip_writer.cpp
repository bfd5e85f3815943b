#include "archive/zip_writer.h"

#include <windows.h>
#include <shlwapi.h>
#include <zlib.h>

#include <cstdint>
#include <vector>

#include "archive/file_source.h"
#include "base/unique_handle.h"
#include "archive/zip_format.h"
#include "archive/zip_reader.h"

namespace stubframework::archive {

namespace {

using namespace format;
using Bytes = std::vector<uint8_t>;

constexpr int kCompressionLevel = 9;
constexpr uint32_t kMaxEntries = 0xFFFF;

bool EntryName(const std::wstring& file_path, std::string* name) {
  const wchar_t* file_name = ::PathFindFileNameW(file_path.c_str());
  char buffer[MAX_PATH] = {};
  int length = ::WideCharToMultiByte(CP_ACP, 0, file_name, -1, buffer, MAX_PATH, nullptr, nullptr);
  if (length <= 1) return false;
  name->assign(buffer, length - 1);
  return true;
}

bool ReadWholeFile(const std::wstring& path, Bytes* content) {
  base::UniqueHandle file(
      ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  LARGE_INTEGER size;
  if (!::GetFileSizeEx(file.Get(), &size) || size.QuadPart >= 0xFFFFFFFFLL) return false;
  content->resize(static_cast<size_t>(size.QuadPart));
  DWORD done = 0;
  if (content->empty()) return true;
  return ::ReadFile(file.Get(), content->data(), static_cast<DWORD>(content->size()), &done, nullptr) &&
         done == content->size();
}

bool Deflate(const Bytes& content, Bytes* compressed) {
  z_stream stream{};
  if (deflateInit2(&stream, kCompressionLevel, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK) return false;
  compressed->resize(deflateBound(&stream, static_cast<uLong>(content.size())));
  stream.next_in = const_cast<Bytef*>(content.data());
  stream.avail_in = static_cast<uInt>(content.size());
  stream.next_out = compressed->data();
  stream.avail_out = static_cast<uInt>(compressed->size());
  int status = deflate(&stream, Z_FINISH);
  compressed->resize(stream.total_out);
  deflateEnd(&stream);
  return status == Z_STREAM_END;
}

void DosTimeNow(uint16_t* time, uint16_t* date) {
  SYSTEMTIME now;
  ::GetLocalTime(&now);
  *time = static_cast<uint16_t>((now.wHour << 11) | (now.wMinute << 5) | (now.wSecond / 2));
  *date = static_cast<uint16_t>(((now.wYear - 1980) << 9) | (now.wMonth << 5) | now.wDay);
}

struct NewEntry {
  std::string name;
  Bytes data;  // deflated
  uint32_t crc = 0;
  uint32_t size = 0;
  uint16_t time = 0;
  uint16_t date = 0;
  uint32_t local_header_offset = 0;
};

Bytes LocalHeader(const NewEntry& entry) {
  Bytes header(kLocalHeaderSize);
  uint8_t* p = header.data();
  WriteLe32(p, kLocalHeaderSignature);
  WriteLe16(p + 4, kVersionNeeded);
  WriteLe16(p + 6, kFlagMaximumCompression);
  WriteLe16(p + 8, kMethodDeflated);
  WriteLe16(p + 10, entry.time);
  WriteLe16(p + 12, entry.date);
  WriteLe32(p + 14, entry.crc);
  WriteLe32(p + 18, static_cast<uint32_t>(entry.data.size()));
  WriteLe32(p + 22, entry.size);
  WriteLe16(p + kLocalNameLength, static_cast<uint16_t>(entry.name.size()));
  WriteLe16(p + kLocalExtraLength, 0);
  header.insert(header.end(), entry.name.begin(), entry.name.end());
  return header;
}

Bytes CentralHeader(const NewEntry& entry) {
  Bytes header(kCentralHeaderSize, 0);
  uint8_t* p = header.data();
  WriteLe32(p, kCentralHeaderSignature);
  WriteLe16(p + 4, kVersionNeeded);  // made by: MS-DOS attributes, version 2.0
  WriteLe16(p + 6, kVersionNeeded);
  WriteLe16(p + kCentralFlags, kFlagMaximumCompression);
  WriteLe16(p + kCentralMethod, kMethodDeflated);
  WriteLe16(p + 12, entry.time);
  WriteLe16(p + 14, entry.date);
  WriteLe32(p + kCentralCrc, entry.crc);
  WriteLe32(p + kCentralCompressedSize, static_cast<uint32_t>(entry.data.size()));
  WriteLe32(p + kCentralSize, entry.size);
  WriteLe16(p + kCentralNameLength, static_cast<uint16_t>(entry.name.size()));
  WriteLe32(p + kCentralLocalHeaderOffset, entry.local_header_offset);
  header.insert(header.end(), entry.name.begin(), entry.name.end());
  return header;
}

Bytes EndRecord(uint32_t entries, uint32_t directory_size, uint32_t directory_offset) {
  Bytes record(kEndRecordSize, 0);
  uint8_t* p = record.data();
  WriteLe32(p, kEndRecordSignature);
  WriteLe16(p + kEndEntriesOnDisk, static_cast<uint16_t>(entries));
  WriteLe16(p + kEndTotalEntries, static_cast<uint16_t>(entries));
  WriteLe32(p + kEndDirectorySize, directory_size);
  WriteLe32(p + kEndDirectoryOffset, directory_offset);
  return record;
}

bool WriteAt(HANDLE file, uint64_t offset, const Bytes& bytes) {
  LARGE_INTEGER position;
  position.QuadPart = static_cast<LONGLONG>(offset);
  if (!::SetFilePointerEx(file, position, nullptr, FILE_BEGIN)) return false;
  DWORD done = 0;
  return bytes.empty() ||
         (::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &done, nullptr) && done == bytes.size());
}

bool TruncateAt(HANDLE file, uint64_t offset) {
  LARGE_INTEGER position;
  position.QuadPart = static_cast<LONGLONG>(offset);
  return ::SetFilePointerEx(file, position, nullptr, FILE_BEGIN) && ::SetEndOfFile(file);
}

// The archive so far: its directory and where new data may start. An empty
// file is an empty archive.
struct ExistingArchive {
  uint64_t directory_position = 0;
  uint32_t entry_count = 0;
  Bytes directory;
  Bytes tail;  // everything from directory_position on, to put back on failure
};

bool ReadExisting(HANDLE file, ExistingArchive* archive) {
  FileSource source(file, nullptr);
  uint64_t size = 0;
  if (!source.Size(&size)) return false;
  if (size == 0) return true;
  ZipReader reader;
  if (!reader.Open(size, [&source](uint64_t offset, void* buffer, size_t length) {
        return source.ReadAt(offset, buffer, length);
      })) {
    return false;
  }
  // Appending keeps stored offsets as they are, so the archive must start the file.
  if (reader.base_offset() != 0) return false;
  archive->directory_position = reader.directory_position();
  archive->entry_count = static_cast<uint32_t>(reader.entries().size());
  archive->tail.resize(static_cast<size_t>(size - archive->directory_position));
  if (!source.ReadAt(archive->directory_position, archive->tail.data(), archive->tail.size())) return false;
  // The tail starts with the directory, followed by the end record.
  archive->directory.assign(archive->tail.begin(), archive->tail.begin() + reader.directory_size());
  return true;
}

bool AppendEntry(HANDLE file, const std::string& name, const Bytes& content) {
  ExistingArchive archive;
  if (!ReadExisting(file, &archive)) return false;
  if (archive.entry_count + 1 > kMaxEntries) return false;

  NewEntry entry;
  entry.name = name;
  entry.size = static_cast<uint32_t>(content.size());
  entry.crc = static_cast<uint32_t>(crc32(crc32(0L, Z_NULL, 0), content.data(), static_cast<uInt>(content.size())));
  if (!Deflate(content, &entry.data)) return false;
  DosTimeNow(&entry.time, &entry.date);

  Bytes local = LocalHeader(entry);
  uint64_t directory_offset = archive.directory_position + local.size() + entry.data.size();
  Bytes directory = archive.directory;
  if (archive.directory_position > 0xFFFFFFFFULL) return false;
  entry.local_header_offset = static_cast<uint32_t>(archive.directory_position);
  Bytes central = CentralHeader(entry);
  directory.insert(directory.end(), central.begin(), central.end());
  if (directory_offset + directory.size() + kEndRecordSize > 0xFFFFFFFFULL) return false;

  Bytes end = EndRecord(archive.entry_count + 1, static_cast<uint32_t>(directory.size()),
                        static_cast<uint32_t>(directory_offset));
  uint64_t end_offset = directory_offset + directory.size();
  bool ok = WriteAt(file, archive.directory_position, local) &&
            WriteAt(file, archive.directory_position + local.size(), entry.data) &&
            WriteAt(file, directory_offset, directory) && WriteAt(file, end_offset, end) &&
            TruncateAt(file, end_offset + end.size());
  if (!ok && !archive.tail.empty()) {
    WriteAt(file, archive.directory_position, archive.tail);
    TruncateAt(file, archive.directory_position + archive.tail.size());
  }
  return ok;
}

}  // namespace

bool AddFileToArchive(const std::wstring& archive_path, const std::wstring& file_path) {
  std::string name;
  if (!EntryName(file_path, &name)) return false;
  Bytes content;
  if (!ReadWholeFile(file_path, &content)) return false;

  bool created = false;
  base::UniqueHandle archive(::CreateFileW(archive_path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!archive) {
    if (::GetLastError() != ERROR_FILE_NOT_FOUND) return false;
    archive.Reset(::CreateFileW(archive_path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!archive) return false;
    created = true;
  }
  bool ok = AppendEntry(archive.Get(), name, content);
  archive.Reset();
  if (!ok && created) ::DeleteFileW(archive_path.c_str());
  return ok;
}

}  // namespace stubframework::archive
