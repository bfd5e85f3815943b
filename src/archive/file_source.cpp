#include "archive/file_source.h"

#include "archive/zip_reporter.h"

namespace stubframework::archive {

bool FileSource::Size(uint64_t* size) const {
  LARGE_INTEGER value;
  if (!::GetFileSizeEx(file_, &value)) return false;
  *size = static_cast<uint64_t>(value.QuadPart);
  return true;
}

bool FileSource::ReadAt(uint64_t offset, void* buffer, size_t size) const {
  OVERLAPPED position = {};
  position.Offset = static_cast<DWORD>(offset);
  position.OffsetHigh = static_cast<DWORD>(offset >> 32);
  DWORD done = 0;
  BOOL ok = ::ReadFile(file_, buffer, static_cast<DWORD>(size), &done, &position);
  if (ok && done == size) return true;
  // A read that succeeds short has hit the end of the file.
  DWORD error = ok ? ERROR_HANDLE_EOF : ::GetLastError();
  if (reporter_ != nullptr) reporter_->Error(static_cast<int>(error));
  return false;
}

}  // namespace stubframework::archive
