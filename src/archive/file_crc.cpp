#include "archive/file_crc.h"

#include <windows.h>
#include <zlib.h>

#include <vector>

#include "base/unique_handle.h"
#include "base/wide_format.h"

namespace stubframework::archive {

namespace {
constexpr DWORD kChunkSize = 1024 * 1024;
}

bool FileCrc(const std::wstring& path, uint32_t* crc) {
  base::UniqueHandle file(::CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                         FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!file) return false;
  std::vector<uint8_t> chunk(kChunkSize);
  uLong value = crc32(0L, Z_NULL, 0);
  for (;;) {
    DWORD done = 0;
    if (!::ReadFile(file.Get(), chunk.data(), kChunkSize, &done, nullptr)) return false;
    if (done == 0) break;
    value = crc32(value, chunk.data(), done);
  }
  *crc = static_cast<uint32_t>(value);
  return true;
}

std::wstring FileCrcText(const std::wstring& path) {
  uint32_t crc = 0;
  if (!FileCrc(path, &crc)) return L"0";
  return base::Format(L"%u", crc);
}

}  // namespace stubframework::archive
