// A downloaded ZIP package extracted at once, as the last part of its download.
#pragma once

#include <string>

#include "base/log.h"
#include "workflow/package_folders.h"
#include "workflow/progress_record.h"

namespace stubframework::archive {
class ZipReporter;
}

namespace stubframework::workflow {

// Only a ".zip" URL (any letter case), and only when the page asks for
// extraction during the download and not for the download alone.
bool ShouldExtractInDownload(const std::wstring& url, const std::wstring& is_extract_in_download,
                             const std::wstring& is_download_only);

// Extracts `download_file` with the extraction progress published by a
// reporter thread; stores the unzip and setup folders in the properties named
// after the file and in the registry record under `record_key` (32-bit view),
// and records the file's folder in `download_folders` (may be null).
// Returns kNoError, kFileNotExist, kDiskFull or kFailure.
int ExtractInDownload(base::Log* log, archive::ZipReporter* reporter, ReporterContext& context,
                      const std::wstring& download_file, const std::wstring& record_key,
                      DownloadFolders* download_folders);

}  // namespace stubframework::workflow
