#include "archive/package_extract.h"

#include <windows.h>

#include "archive/archive_extract.h"
#include "archive/find_file.h"
#include "base/log.h"
#include "base/temp_folder.h"
#include "base/unique_handle.h"
#include "archive/zip_reporter.h"

namespace stubframework::archive {

namespace {

const wchar_t kPackageExtension[] = L".zip";
const wchar_t kSetupProgram[] = L"setup.exe";

bool HasZipExtension(const std::wstring& path) {
  const size_t length = ARRAYSIZE(kPackageExtension) - 1;
  return path.size() >= length && ::lstrcmpiW(path.c_str() + path.size() - length, kPackageExtension) == 0;
}

// Passes everything on and remembers the last error, which decides between
// "disk full" and a plain failure.
class ErrorRecorder : public ZipReporter {
 public:
  explicit ErrorRecorder(ZipReporter* next) : next_(next) {}
  void Progress(unsigned done, unsigned total) override {
    if (next_ != nullptr) next_->Progress(done, total);
  }
  void Error(int code) override {
    last_error_ = code;
    if (next_ != nullptr) next_->Error(code);
  }
  int last_error() const { return last_error_; }

 private:
  ZipReporter* next_;
  int last_error_ = 0;
};

}  // namespace

int ExtractPackage(base::Log* log, ZipReporter* reporter, const std::wstring& package_path,
                   std::wstring* unzip_folder, std::wstring* setup_folder) {
  unzip_folder->clear();
  setup_folder->clear();
  if (!HasZipExtension(package_path)) return kPackageFailed;

  *unzip_folder = base::MakeUniqueFolder(base::TemporaryPath());
  ErrorRecorder recorder(reporter);
  bool extracted = false;
  if (!unzip_folder->empty()) {
    base::UniqueHandle package(::CreateFileW(package_path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    extracted = package && ExtractArchive(package.Get(), *unzip_folder, &recorder);
  }
  if (!extracted) {
    if (log != nullptr) {
      log->Debug(L"Unzip failed, package_path: %s, unzip to: %s\n", package_path.c_str(), unzip_folder->c_str());
    }
    return recorder.last_error() == ERROR_DISK_FULL ? kPackageDiskFull : kPackageFailed;
  }

  if (!FindFile(*unzip_folder, kSetupProgram, setup_folder)) {
    if (log != nullptr) log->Debug(L"Can not find setup.exe, unzip path : %s", unzip_folder->c_str());
    return kPackageSetupNotFound;
  }
  return kPackageReady;
}

}  // namespace stubframework::archive
