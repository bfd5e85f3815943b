// Names of the properties the download workflow reads and writes, besides the
// progress counters of the property store.
#pragma once

namespace stubframework::workflow {

// Set by the page: "true" or anything else.
inline constexpr wchar_t kIsExtractInDownload[] = L"isExtractInDownload";
inline constexpr wchar_t kIsDownloadOnly[] = L"isDownloadOnly";
// "true" while a job that extracts its package runs, "false" after.
inline constexpr wchar_t kExtractInDownloadProgress[] = L"__Extract_ZIP_In_Download_Progress__";
// Appended to the download path: where its package went, and the folder in it
// that holds "setup.exe". Also the value names of the ExtractFolders record.
inline constexpr wchar_t kUnzipFolderSuffix[] = L"__ZIP_Unzip_Folder__";
inline constexpr wchar_t kSetupFolderSuffix[] = L"__ZIP_EXE_Path__";

inline constexpr wchar_t kTrue[] = L"true";
inline constexpr wchar_t kFalse[] = L"false";

}  // namespace stubframework::workflow
