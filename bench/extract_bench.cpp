// Extraction benchmark: extracts an archive (plain or appended to an
// executable) into a folder and prints the seconds ExtractArchive took.
// Usage: extract_bench ARCHIVE DESTINATION
#include <windows.h>

#include <cstdio>
#include <string>

#include "archive/archive_extract.h"
#include "base/unique_handle.h"

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: extract_bench ARCHIVE DESTINATION\n");
    return 2;
  }
  LARGE_INTEGER frequency, start, stop;
  ::QueryPerformanceFrequency(&frequency);
  ::QueryPerformanceCounter(&start);
  stubframework::base::UniqueHandle file(::CreateFileW(argv[1], GENERIC_READ, FILE_SHARE_READ, nullptr,
                                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  bool ok = file && stubframework::archive::ExtractArchive(file.Get(), argv[2], nullptr);
  ::QueryPerformanceCounter(&stop);
  if (!ok) {
    std::fprintf(stderr, "extraction failed\n");
    return 1;
  }
  std::printf("%.6f seconds\n", static_cast<double>(stop.QuadPart - start.QuadPart) / frequency.QuadPart);
  return 0;
}
