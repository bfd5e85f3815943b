// The temporary folder that holds the UI bundle extracted from the executable.
#pragma once

#include <string>

namespace stubframework::app {
class AppLog;
}

namespace stubframework::app {

class ResourceFolder {
 public:
  explicit ResourceFolder(app::AppLog* log);
  ~ResourceFolder();
  ResourceFolder(const ResourceFolder&) = delete;
  ResourceFolder& operator=(const ResourceFolder&) = delete;

  bool extracted() const { return extracted_; }
  // The extraction folder, with a trailing backslash.
  const std::wstring& folder() const { return folder_; }

 private:
  bool extracted_ = false;
  std::wstring folder_;
  app::AppLog* log_;
};

}  // namespace stubframework::app
