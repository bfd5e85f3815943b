// The process-wide download clock: when the first download of this run began
// and when the last one ended, in seconds since 1970 (0 until set).
#pragma once

#include "downloader/interfaces.h"

namespace stubframework::downloader {

// Set the start (or end) time to now and return it.
int64 MarkDownloadStart();
int64 MarkDownloadEnd();

// end - start when both are set, else 0.
int64 DownloadTimeSeconds();

}  // namespace stubframework::downloader
