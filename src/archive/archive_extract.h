// Extracts every entry of a ZIP archive found inside an open file.
#pragma once

#include <windows.h>

#include <string>

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

}  // namespace stubframework::archive
