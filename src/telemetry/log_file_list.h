// The files a failed run uploads: appended by the workers that write
// installer logs and by the application at the end of the run, read once by
// the upload. One lock serialises both.
#pragma once

#include <string>
#include <vector>

#include "base/critical_section.h"

namespace stubframework::telemetry {

class LogFileList {
 public:
  void Append(const std::wstring& path);
  // Appends only a file that exists; whether it did.
  bool AppendIfExists(const std::wstring& path);
  std::vector<std::wstring> Snapshot() const;

 private:
  mutable base::CriticalSection lock_;
  std::vector<std::wstring> paths_;
};

}  // namespace stubframework::telemetry
