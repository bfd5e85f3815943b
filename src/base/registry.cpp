#include "base/registry.h"

#include <windows.h>

#include <cwctype>

#include "base/registry_path.h"
#include "base/unique_handle.h"
#include "base/wide_format.h"

namespace stubframework::base {

namespace {

REGSAM View(bool view64) { return view64 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY; }

bool ReadInView(const RegistryPath& path, const std::wstring& name, REGSAM access, unsigned buffer_bytes,
                std::wstring& value) {
  UniqueHKey key;
  if (::RegOpenKeyExW(path.root, path.subkey.c_str(), 0, access, key.Receive()) != ERROR_SUCCESS) return false;
  // One spare character: data stored without its terminator still ends.
  std::vector<wchar_t> buffer(buffer_bytes / sizeof(wchar_t) + 1, L'\0');
  DWORD type = 0;
  DWORD size = buffer_bytes;
  if (::RegQueryValueExW(key.Get(), name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &size) !=
      ERROR_SUCCESS) {
    return false;
  }
  if (type == REG_DWORD && size >= sizeof(DWORD)) {
    value = Format(L"%d", *reinterpret_cast<const int*>(buffer.data()));
  } else {
    value.assign(buffer.data(), wcsnlen(buffer.data(), size / sizeof(wchar_t)));
  }
  return true;
}

struct SearchState {
  const std::vector<std::wstring>& suffixes;
  const std::wstring& name;
  REGSAM access;
  bool found = false;
  std::wstring match;
};

void Search(SearchState& state, HKEY parent, const std::wstring& subkey, const std::wstring& relative) {
  if (state.found || state.suffixes.empty()) return;
  UniqueHKey key;
  if (::RegOpenKeyExW(parent, subkey.c_str(), 0, state.access, key.Receive()) != ERROR_SUCCESS) return;
  if (::RegQueryValueExW(key.Get(), state.name.c_str(), nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS) {
    // A key holding the value ends this branch whether or not its path matches.
    for (const std::wstring& suffix : state.suffixes) {
      if (SuffixMatches(relative, suffix)) {
        state.found = true;
        state.match = relative;
        break;
      }
    }
    return;
  }
  DWORD count = 0;
  if (::RegQueryInfoKeyW(key.Get(), nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr, nullptr, nullptr,
                         nullptr, nullptr) != ERROR_SUCCESS) {
    return;
  }
  for (DWORD i = 0; i < count && !state.found; ++i) {
    wchar_t child[MAX_PATH + 1] = {};
    DWORD length = MAX_PATH + 1;
    if (::RegEnumKeyExW(key.Get(), i, child, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) continue;
    Search(state, key.Get(), child, relative + child + L"\\");
  }
}

}  // namespace

bool RegistryReadValue(const std::wstring& key_path, const std::wstring& name, std::wstring& value,
                       unsigned buffer_bytes) {
  RegistryPath path = ParseRegistryPath(key_path);
  if (path.root == nullptr) return false;
  return ReadInView(path, name, KEY_QUERY_VALUE | KEY_WOW64_64KEY, buffer_bytes, value) ||
         ReadInView(path, name, KEY_QUERY_VALUE | KEY_WOW64_32KEY, buffer_bytes, value);
}

bool RegistryWriteValue(const std::wstring& key_path, const std::wstring& name, const std::wstring& value,
                        bool view64) {
  RegistryPath path = ParseRegistryPath(key_path);
  if (path.root == nullptr) return false;
  REGSAM access = KEY_ALL_ACCESS | View(view64);
  UniqueHKey key;
  if (::RegOpenKeyExW(path.root, path.subkey.c_str(), 0, access, key.Receive()) != ERROR_SUCCESS &&
      ::RegCreateKeyExW(path.root, path.subkey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, access, nullptr,
                        key.Receive(), nullptr) != ERROR_SUCCESS) {
    return false;
  }
  DWORD bytes = static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t));
  return ::RegSetValueExW(key.Get(), name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          bytes) == ERROR_SUCCESS;
}

bool RegistryDeleteKey(const std::wstring& key_path, bool view64) {
  RegistryPath path = ParseRegistryPath(key_path);
  if (path.root == nullptr) return false;
  // Looked up at run time: systems before Vista x64 lack it.
  using RegDeleteKeyExFn = LONG(WINAPI*)(HKEY, LPCWSTR, REGSAM, DWORD);
  HMODULE advapi = ::LoadLibraryW(L"Advapi32.dll");
  if (advapi == nullptr) return false;
  auto delete_key =
      reinterpret_cast<RegDeleteKeyExFn>(reinterpret_cast<void*>(::GetProcAddress(advapi, "RegDeleteKeyExW")));
  bool deleted = delete_key != nullptr &&
                 delete_key(path.root, path.subkey.c_str(), KEY_ALL_ACCESS | View(view64), 0) == ERROR_SUCCESS;
  ::FreeLibrary(advapi);
  return deleted;
}

std::vector<std::wstring> SplitSuffixes(const std::wstring& suffixes) {
  std::vector<std::wstring> list;
  size_t start = 0;
  while (start <= suffixes.size()) {
    size_t end = suffixes.find(L';', start);
    if (end == std::wstring::npos) end = suffixes.size();
    if (end > start) list.push_back(suffixes.substr(start, end - start));
    start = end + 1;
  }
  return list;
}

bool SuffixMatches(const std::wstring& relative_path, const std::wstring& suffix) {
  size_t l = suffix.size();
  if (relative_path.empty() || l >= relative_path.size()) return false;
  size_t end = relative_path.size() - 1;  // the final backslash
  for (size_t i = 0; i < l; ++i) {
    if (std::towlower(relative_path[end - l + i]) != std::towlower(suffix[i])) return false;
  }
  return true;
}

bool RegistrySearchKey(bool view64, const std::wstring& key_path, const std::wstring& suffixes,
                       const std::wstring& name) {
  RegistryPath path = ParseRegistryPath(key_path);
  std::vector<std::wstring> list = SplitSuffixes(suffixes);
  SearchState state{list, name, KEY_READ | View(view64)};
  if (path.root != nullptr) Search(state, path.root, path.subkey, std::wstring());
  return state.found;
}

}  // namespace stubframework::base
