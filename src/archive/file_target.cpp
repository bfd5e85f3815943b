#include "archive/file_target.h"

#include "archive/zip_reporter.h"

namespace stubframework::archive {

bool FileTarget::Write(const void* data, size_t size) const {
  DWORD done = 0;
  BOOL ok = ::WriteFile(file_, data, static_cast<DWORD>(size), &done, nullptr);
  if (ok && done == size) return true;
  // A write that succeeds short has run out of room.
  DWORD error = ok ? ERROR_DISK_FULL : ::GetLastError();
  if (reporter_ != nullptr) reporter_->Error(static_cast<int>(error));
  return false;
}

}  // namespace stubframework::archive
