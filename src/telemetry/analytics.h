// Reports to the telemetry service.
#pragma once

#include <string>
#include <vector>

namespace stubframework::telemetry {

class Analytics {
 public:
  Analytics() = default;

  void SendStartReport();
  void SendClosingReport();
  // Files zipped into "log.zip" by UploadLogs.
  void AddUploadFile(const std::wstring& path) { upload_files_.push_back(path); }
  void UploadLogs();

  const std::vector<std::wstring>& upload_files() const { return upload_files_; }

 private:
  std::vector<std::wstring> upload_files_;
};

}  // namespace stubframework::telemetry
