#include "app/resource_folder.h"

#include <windows.h>

#include "app/app_log.h"
#include "archive/archive_extract.h"
#include "base/temp_folder.h"
#include "base/unique_handle.h"

namespace stubframework::app {

ResourceFolder::ResourceFolder(app::AppLog* log) : log_(log) {
  std::wstring temporary = base::TemporaryPath();
  if (!temporary.empty() && run_folder_.Create(temporary)) folder_ = run_folder_.path();
  if (folder_.empty()) {
    if (log_ != nullptr) log_->Error(L"create temporary folder failed!");
    return;
  }

  if (log_ != nullptr) log_->Debug(L"Load Resource from pe.");
  wchar_t module_path[MAX_PATH] = {};
  DWORD length = ::GetModuleFileNameW(nullptr, module_path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) {
    if (log_ != nullptr) log_->Error(L"get current app full path failed!");
    return;
  }

  // The bundle is read in place from the running executable.
  base::UniqueHandle executable(::CreateFileW(module_path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                               FILE_ATTRIBUTE_NORMAL, nullptr));
  // Only where the security directory places it: bytes in the certificate
  // table are not covered by the signature.
  bool ok = false;
  archive::BundleFault fault = executable ? archive::ExtractBundle(executable.Get(), folder_, nullptr, &ok)
                                          : archive::BundleFault::kUnreadable;
  ok = ok && run_folder_.Verify();
  executable.Reset();
  if (fault != archive::BundleFault::kNone && log_ != nullptr) {
    log_->Error(L"UI bundle refused: %s", archive::BundleFaultText(fault));
  }
  if (!ok) {
    if (log_ != nullptr) log_->Error(L"Load Resource from pe failed.");
    return;
  }
  if (log_ != nullptr) log_->Debug(L"Load Resource from pe finished.");
  extracted_ = true;
  if (log_ != nullptr) log_->Debug(L"load resource success, temporary folder path : %s", folder_.c_str());
}

ResourceFolder::~ResourceFolder() {
  if (!folder_.empty() && !run_folder_.Remove() && log_ != nullptr) {
    log_->Error(L"Delete Temp folder failed!");
  }
}

}  // namespace stubframework::app
