#include "archive/archive_extract.h"

#include <shlobj.h>

#include <string>
#include <utility>
#include <vector>

#include "archive/bundle_region.h"
#include "archive/entry_path.h"
#include "archive/file_source.h"
#include "archive/file_target.h"
#include "base/unique_handle.h"
#include "archive/zip_reader.h"
#include "archive/zip_reporter.h"

namespace stubframework::archive {

namespace {

bool CreateFolderWithParents(std::wstring folder) {
  while (folder.size() > 3 && folder.back() == L'\\') folder.pop_back();
  // Most entries land in a folder made for an earlier one; asking first spares
  // the shell call, which is far slower than the check.
  DWORD attributes = ::GetFileAttributesW(folder.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) return true;
  int result = ::SHCreateDirectoryExW(nullptr, folder.c_str(), nullptr);
  return result == ERROR_SUCCESS || result == ERROR_ALREADY_EXISTS || result == ERROR_FILE_EXISTS;
}

std::wstring ParentOf(const std::wstring& path) {
  size_t slash = path.find_last_of(L'\\');
  return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

bool ExtractOneEntry(const ZipReader& reader, size_t index, const std::wstring& destination,
                     ZipReporter* reporter) {
  const ZipEntry& entry = reader.entries()[index];
  std::wstring target;
  if (!EntryTargetPath(destination, entry.name, &target)) return false;
  if (entry.IsDirectory()) return CreateFolderWithParents(target);

  CreateFolderWithParents(ParentOf(target));
  base::UniqueHandle file(
      ::CreateFileW(target.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  FileTarget sink(file.Get(), reporter);
  bool ok = reader.ExtractEntry(index, [&sink](const void* data, size_t size) { return sink.Write(data, size); });
  file.Reset();
  if (!ok) ::DeleteFileW(target.c_str());
  return ok;
}

// Every name usable and no two of them one file, before anything is written:
// a package whose names Windows would merge is refused whole.
bool EntryNamesUsable(const ZipReader& reader) {
  std::vector<std::wstring> names;
  names.reserve(reader.entries().size());
  for (const ZipEntry& entry : reader.entries()) {
    std::wstring name;
    if (!EntryNameOf(entry.name, &name) || !IsContainedEntryName(name)) return false;
    if (entry.IsDirectory() && (name.empty() || name.back() != L'\\')) name.push_back(L'\\');
    names.push_back(std::move(name));
  }
  return EntryNamesAreDistinct(names);
}

// Unknown free space lets the extraction go on: a write that finds the
// volume full still stops it.
bool FitsOnVolume(const std::wstring& folder, uint64_t bytes) {
  ULARGE_INTEGER available;
  if (!::GetDiskFreeSpaceExW(folder.c_str(), &available, nullptr, nullptr)) return true;
  return bytes <= available.QuadPart;
}

// Writes every entry of an opened reader below destination.
bool ExtractEntries(const ZipReader& reader, const std::wstring& destination, ZipReporter* reporter) {
  const unsigned count = static_cast<unsigned>(reader.entries().size());
  bool ok = EntryNamesUsable(reader);
  if (ok) {
    CreateFolderWithParents(destination);
    // Refused before anything is written; inflating never goes past the sizes
    // declared, so they bound what the extraction can take.
    ok = FitsOnVolume(destination, reader.DeclaredSize());
    if (!ok && reporter != nullptr) reporter->Error(ERROR_DISK_FULL);
  }
  for (unsigned i = 0; i < count && ok; ++i) {
    if (reporter != nullptr) reporter->Progress(i, count);
    ok = ExtractOneEntry(reader, i, destination, reporter);
  }
  if (reporter != nullptr) reporter->Progress(count, count);
  return ok;
}

}  // namespace

bool ExtractArchive(HANDLE file, const std::wstring& destination, ZipReporter* reporter) {
  FileSource source(file, reporter);
  uint64_t file_size = 0;
  if (!source.Size(&file_size)) return false;
  ZipReader reader;
  bool opened = reader.Open(file_size, [&source](uint64_t offset, void* buffer, size_t size) {
    return source.ReadAt(offset, buffer, size);
  });
  return opened && ExtractEntries(reader, destination, reporter);
}

BundleFault ExtractBundle(HANDLE file, const std::wstring& destination, ZipReporter* reporter, bool* extracted) {
  *extracted = false;
  FileSource source(file, reporter);
  uint64_t file_size = 0;
  if (!source.Size(&file_size)) return BundleFault::kUnreadable;
  ZipReader reader;
  BundleFault fault = OpenBundle(file_size, [&source](uint64_t offset, void* buffer, size_t size) {
    return source.ReadAt(offset, buffer, size);
  }, &reader);
  if (fault != BundleFault::kNone) return fault;
  *extracted = ExtractEntries(reader, destination, reporter);
  return BundleFault::kNone;
}

}  // namespace stubframework::archive
