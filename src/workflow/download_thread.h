// The download worker: one file from the pre-check through the transfer, the
// CRC check and the optional extraction to the page's final callback.
#pragma once

#include <windows.h>

#include <string>

#include "base/log.h"
#include "base/property_bag.h"
#include "workflow/download_job.h"

namespace stubframework::workflow {

// `param` is a DownloadJob created with new; the worker owns and frees it.
// The page's function gets (kRunning, total, current) while the job runs and
// (code, total, current) once at its end.
DWORD WINAPI DownloadThreadFunc(void* param);

// Whether the volume of `root` ("C:\" and the like) is read-only.
bool IsVolumeReadOnly(const std::wstring& root, VolumeFlagsQuery query);

// The CRC-32 of a file as unsigned decimal text; false when it cannot be computed.
bool FileCrcText(const std::wstring& path, std::wstring* text);

// The check after a transfer: kNoError when the file's CRC text is `crc`,
// else kMd5Error with its log line.
int CheckDownloadedCrc(base::Log* log, const std::wstring& path, const std::wstring& crc);

// After a transfer that succeeded: it holds every byte even when its last
// progress report fell short, and the reporter waits for the count to reach
// the total.
void CompleteTransferCount(base::LockedProperties& properties);

}  // namespace stubframework::workflow
