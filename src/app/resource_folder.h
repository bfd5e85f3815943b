// The run's protected folder that holds the UI bundle extracted from the
// executable (the pages can start programs: nobody but administrators may
// change them), held for the run and deleted at its end.
#pragma once

#include <string>

#include "base/secured_folder.h"

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
  base::RunFolder run_folder_;
  std::wstring folder_;
  app::AppLog* log_;
};

}  // namespace stubframework::app
