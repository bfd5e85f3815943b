#include "base/no_follow.h"

#include <vector>

namespace stubframework::base {

namespace {

bool SamePath(const std::wstring& a, const std::wstring& b) {
  return ::CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()),
                                TRUE) == CSTR_EQUAL;
}

}  // namespace

std::wstring FinalPathOf(HANDLE handle) {
  std::vector<wchar_t> buffer(MAX_PATH + 1);
  for (int tries = 0; tries < 2; ++tries) {
    DWORD length = ::GetFinalPathNameByHandleW(handle, buffer.data(), static_cast<DWORD>(buffer.size()),
                                               FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length == 0 || length > 32768) return std::wstring();
    if (length < buffer.size()) return std::wstring(buffer.data(), length);
    buffer.resize(length + 1);
  }
  return std::wstring();
}

std::wstring JoinFinal(const std::wstring& parent, const std::wstring& name) {
  if (!parent.empty() && parent.back() == L'\\') return parent + name;
  return parent + L"\\" + name;
}

HeldEntry OpenNoFollow(const std::wstring& path, const std::wstring& expected, DWORD access, DWORD share,
                       DWORD disposition, DWORD flags) {
  HeldEntry entry;
  entry.handle.Reset(::CreateFileW(path.c_str(), access | FILE_READ_ATTRIBUTES, share, nullptr, disposition,
                                   flags | FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!entry.handle) return entry;
  // Not GetFileInformationByHandle: it also asks for the volume's serial
  // number, which costs milliseconds a call under Wine.
  FILE_ATTRIBUTE_TAG_INFO info = {};
  if (!::GetFileInformationByHandleEx(entry.handle.Get(), FileAttributeTagInfo, &info, sizeof(info))) {
    // Nothing known of it: treated as somewhere else.
    return entry;
  }
  entry.attributes = info.FileAttributes;
  entry.is_link = (info.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  if (entry.is_link) return entry;
  entry.final_path = FinalPathOf(entry.handle.Get());
  entry.in_place = !entry.final_path.empty() && !expected.empty() && SamePath(entry.final_path, expected);
  return entry;
}

}  // namespace stubframework::base
