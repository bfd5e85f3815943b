#include "telemetry/log_file_list.h"

#include <windows.h>

namespace stubframework::telemetry {

void LogFileList::Append(const std::wstring& path) {
  base::ScopedLock hold(lock_);
  paths_.push_back(path);
}

bool LogFileList::AppendIfExists(const std::wstring& path) {
  DWORD attributes = ::GetFileAttributesW(path.c_str());
  if (path.empty() || attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) return false;
  Append(path);
  return true;
}

std::vector<std::wstring> LogFileList::Snapshot() const {
  base::ScopedLock hold(lock_);
  return paths_;
}

}  // namespace stubframework::telemetry
