#include "base/log.h"
#include "workflow/extract_in_download.h"

#include <windows.h>
#include <shlwapi.h>

#include "archive/package_extract.h"
#include "base/registry.h"
#include "base/unique_handle.h"
#include "workflow/download_properties.h"
#include "workflow/progress_reporters.h"

namespace stubframework::workflow {

static_assert(int{archive::kPackageReady} == kNoError && int{archive::kPackageSetupNotFound} == kFileNotExist &&
                  int{archive::kPackageDiskFull} == kDiskFull && int{archive::kPackageFailed} == kFailure,
              "package results are error-handle codes");

bool ShouldExtractInDownload(const std::wstring& url, const std::wstring& is_extract_in_download,
                             const std::wstring& is_download_only) {
  return ::lstrcmpiW(::PathFindExtensionW(url.c_str()), L".zip") == 0 && is_extract_in_download == kTrue &&
         is_download_only != kTrue;
}

int ExtractInDownload(base::Log* log, archive::ZipReporter* reporter, ReporterContext& context,
                      const std::wstring& download_file, const std::wstring& record_key,
                      DownloadFolders* download_folders) {
  // Known now, from the file just downloaded; the properties that name its
  // unzip folder may be rewritten by the page before the run ends.
  if (download_folders != nullptr) download_folders->Record(download_file);
  context.SetResult(kRunning);
  // The reporter may read the counters before the extraction's first report;
  // a count left by an earlier extraction would show this one as done and end
  // the reporter at once.
  context.properties.SetInstallCurrent(0);
  base::UniqueHandle reporter_thread(::CreateThread(nullptr, 0, InstallProgressThreadFunc, &context, 0, nullptr));

  std::wstring unzip_folder;
  std::wstring setup_folder;
  int code = archive::ExtractPackage(log, reporter, download_file, &unzip_folder, &setup_folder);
  const std::wstring unzip_name = download_file + kUnzipFolderSuffix;
  const std::wstring setup_name = download_file + kSetupFolderSuffix;
  context.properties.SetProperty(unzip_name, unzip_folder);
  context.properties.SetProperty(setup_name, setup_folder);
  context.SetResult(code);  // the reporter stops
  // An install after a restart finds the folders again through this record.
  base::RegistryWriteValue(record_key, unzip_name, unzip_folder, false);
  base::RegistryWriteValue(record_key, setup_name, setup_folder, false);
  if (reporter_thread) ::WaitForSingleObject(reporter_thread.Get(), INFINITE);
  return code;
}

}  // namespace stubframework::workflow
