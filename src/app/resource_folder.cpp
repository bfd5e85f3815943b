#include "app/resource_folder.h"

#include "app/app_log.h"
#include "app/temp_folder.h"

namespace stubframework::core {

ResourceFolder::ResourceFolder(debug::AppLog* log) : log_(log) {
  // The executable carries no bundle reader yet: nothing is extracted, and
  // start-up treats the run as one without a UI.
}

ResourceFolder::~ResourceFolder() {
  if (!folder_.empty() && !utils::DeleteFolderRecursive(folder_) && log_ != nullptr) {
    log_->Error(L"Delete Temp folder failed!");
  }
}

}  // namespace stubframework::core
