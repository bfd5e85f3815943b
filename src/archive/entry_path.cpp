#include "archive/entry_path.h"

#include <windows.h>
#include <shlwapi.h>

#include <algorithm>
#include <cwctype>

#include "archive/zip_reader.h"

namespace stubframework::archive {

namespace {

// Names that open a device whatever folder they are joined to, also with an
// extension ("nul.txt").
bool IsDeviceName(const std::wstring& component) {
  static const wchar_t* const kDevices[] = {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"};
  std::wstring stem = component.substr(0, component.find(L'.'));
  while (!stem.empty() && stem.back() == L' ') stem.pop_back();
  for (wchar_t& c : stem) c = static_cast<wchar_t>(std::towupper(c));
  for (const wchar_t* device : kDevices) {
    if (stem == device) return true;
  }
  // COM1..COM9 and LPT1..LPT9.
  return stem.size() == 4 && (stem.compare(0, 3, L"COM") == 0 || stem.compare(0, 3, L"LPT") == 0) &&
         stem[3] >= L'1' && stem[3] <= L'9';
}

bool IsContainedComponent(const std::wstring& component) {
  // Windows drops trailing dots and blanks, so "..", ". ." and "..." all end
  // up as a reference to a parent or the folder itself.
  bool only_dots_and_blanks =
      std::all_of(component.begin(), component.end(), [](wchar_t c) { return c == L'.' || c == L' '; });
  if (only_dots_and_blanks) return false;
  for (wchar_t c : component) {
    if (c < 32 || wcschr(L"<>:\"|?*", c) != nullptr) return false;
  }
  return !IsDeviceName(component);
}

}  // namespace

bool IsContainedEntryName(const std::wstring& name) {
  if (name.empty() || name.front() == L'\\') return false;
  size_t start = 0;
  for (;;) {
    size_t end = name.find(L'\\', start);
    if (end == std::wstring::npos) {
      // A trailing separator marks a folder entry; no further component.
      return start == name.size() || IsContainedComponent(name.substr(start));
    }
    if (!IsContainedComponent(name.substr(start, end - start))) return false;
    start = end + 1;
  }
}

bool EntryTargetPath(const std::wstring& destination, const std::string& stored_name, std::wstring* target) {
  int byte_count = static_cast<int>(std::min(stored_name.size(), kEntryNameLimit));
  if (byte_count == 0) return false;
  wchar_t wide[MAX_PATH] = {};
  int length = ::MultiByteToWideChar(CP_ACP, 0, stored_name.data(), byte_count, wide, MAX_PATH);
  if (length <= 0) return false;
  std::wstring name(wide, length);
  std::replace(name.begin(), name.end(), L'/', L'\\');
  if (!IsContainedEntryName(name)) return false;
  wchar_t combined[MAX_PATH] = {};
  if (::PathCombineW(combined, destination.c_str(), name.c_str()) == nullptr) return false;
  target->assign(combined);
  return true;
}

}  // namespace stubframework::archive
