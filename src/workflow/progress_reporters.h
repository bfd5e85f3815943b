// The reporter threads: they read a job's progress properties every
// kReportIntervalMs, or when the worker wakes them, and publish them to the
// page until the record's result leaves kRunning.
#pragma once

#include <windows.h>

#include <cstdint>

namespace stubframework::workflow {

// Transfer progress from "downloadCurrent"/"downloadTotal". While a package
// is to be extracted after the transfer the bar stops at 95 %. Sets the result
// to kNoError once the transfer has all its bytes. `param`: ReporterContext*.
DWORD WINAPI DownloadProgressThreadFunc(void* param);

// Extraction or installation progress from "installCurrent"/"installTotal";
// while a package is extracted during a download it fills the download's last
// 5 % instead. `param`: ReporterContext*.
DWORD WINAPI InstallProgressThreadFunc(void* param);

// The transfer's shown count: 95 % of `current` while extraction follows.
uint64_t ShownTransferCurrent(uint32_t current, bool extract_follows);

// The download count while its package is extracted: from 95 % of the
// download's total (nothing extracted) to all of it (every entry). `done` is
// "installCurrent" (a tenth of the entries done), `all` "installTotal".
long ExtractionDownloadCurrent(long done, long all, long download_total);

}  // namespace stubframework::workflow
