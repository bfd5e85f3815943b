#include "archive/entry_path.h"

#include <windows.h>
#include <shlwapi.h>

#include <algorithm>
#include <cwctype>
#include <set>

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
  // Windows drops trailing dots and blanks: "..", ". ." and "..." all end up
  // as a reference to a parent or the folder itself, and "setup.exe." or
  // "setup.exe " as another entry's "setup.exe".
  if (component.empty() || component.back() == L'.' || component.back() == L' ') return false;
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

bool EntryNamesAreDistinct(const std::vector<std::wstring>& names) {
  std::set<std::wstring> files;
  std::set<std::wstring> folders;
  for (const std::wstring& name : names) {
    std::wstring key = name;
    std::replace(key.begin(), key.end(), L'/', L'\\');
    const bool folder = !key.empty() && key.back() == L'\\';
    while (!key.empty() && key.back() == L'\\') key.pop_back();
    // The file system's own case rule (an ordinal upper-casing, as NTFS's table).
    if (!key.empty() && ::LCMapStringW(LOCALE_INVARIANT, LCMAP_UPPERCASE, key.c_str(), static_cast<int>(key.size()),
                                       key.data(), static_cast<int>(key.size())) == 0) {
      return false;
    }
    // A folder may be named twice; a file only once, and never as a folder too.
    if (files.count(key) != 0) return false;
    if (folder) {
      folders.insert(key);
    } else {
      if (folders.count(key) != 0) return false;
      files.insert(key);
    }
  }
  return true;
}

bool EntryNameOf(const std::string& stored_name, std::wstring* name) {
  int byte_count = static_cast<int>(std::min(stored_name.size(), kEntryNameLimit));
  if (byte_count == 0) return false;
  wchar_t wide[MAX_PATH] = {};
  int length = ::MultiByteToWideChar(CP_ACP, 0, stored_name.data(), byte_count, wide, MAX_PATH);
  if (length <= 0) return false;
  name->assign(wide, length);
  std::replace(name->begin(), name->end(), L'/', L'\\');
  return true;
}

bool EntryTargetPath(const std::wstring& destination, const std::string& stored_name, std::wstring* target) {
  std::wstring name;
  if (!EntryNameOf(stored_name, &name) || !IsContainedEntryName(name)) return false;
  wchar_t combined[MAX_PATH] = {};
  if (::PathCombineW(combined, destination.c_str(), name.c_str()) == nullptr) return false;
  target->assign(combined);
  return true;
}

}  // namespace stubframework::archive
