// Extracts every entry of a ZIP archive found inside an open file.
#pragma once

#include <windows.h>

#include <string>

#include "archive/bundle_region.h"

namespace stubframework::archive {

class ZipReporter;

// file: a synchronous handle with read access; the archive may be followed or
// preceded by other data (an executable image, a signature). Creates
// destination with its parents and writes each entry below it, in directory
// order, stopping at the first entry that fails. Writes nothing when an
// entry's name is refused (archive/entry_path.h) or two names are one file on
// Windows, nor when the sizes the entries declare exceed the free space of
// destination's volume (error ERROR_DISK_FULL). With a reporter: progress (i, count) before entry i
// and (count, count) at the end, failed or not.
bool ExtractArchive(HANDLE file, const std::wstring& destination, ZipReporter* reporter);

// The same for the UI bundle of an executable: the archive is taken only from
// where the executable's security directory places it (OpenBundle). A fault
// there extracts nothing and is returned; otherwise extracted says whether
// every entry was written.
BundleFault ExtractBundle(HANDLE file, const std::wstring& destination, ZipReporter* reporter, bool* extracted);

}  // namespace stubframework::archive
