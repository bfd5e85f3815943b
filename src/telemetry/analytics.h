// Reports to the telemetry service.
#pragma once

#include <string>
#include <vector>

namespace stubframework::core {
class InstallContext;
}

namespace stubframework {

class Analytics {
 public:
  explicit Analytics(core::InstallContext* context) : context_(context) {}

  void SendStartReport();
  void SendClosingReport();
  // Files zipped into "log.zip" by UploadLogs.
  void AddUploadFile(const std::wstring& path) { upload_files_.push_back(path); }
  void UploadLogs();

  const std::vector<std::wstring>& upload_files() const { return upload_files_; }

 private:
  core::InstallContext* context_;
  std::vector<std::wstring> upload_files_;
};

}  // namespace stubframework
