#include "externalmethods/file_version.h"

#include <windows.h>
#include <msiquery.h>

#include <vector>

#include "base/wide_format.h"

namespace stubframework::externalmethods {

namespace {

constexpr wchar_t kProductVersionQuery[] = L"SELECT * FROM Property WHERE Property = 'ProductVersion'";
constexpr UINT kValueField = 2;
constexpr DWORD kVersionChars = 256;
// Version resources are a few kilobytes; a bigger one is not read.
constexpr DWORD kMaxVersionInfoBytes = 1 << 20;

template <typename Fn>
Fn Lookup(HMODULE module, const char* name) {
  return module == nullptr ? nullptr : reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
}

// A library of the system folder, loaded by full path so that no copy beside
// the stub is ever picked up. Never unloaded.
HMODULE SystemLibrary(const wchar_t* name) {
  wchar_t system[MAX_PATH] = {};
  UINT length = ::GetSystemDirectoryW(system, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return nullptr;
  std::wstring path = std::wstring(system, length) + L"\\" + name;
  return ::LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

using OpenDatabaseFn = UINT(WINAPI*)(LPCWSTR, LPCWSTR, MSIHANDLE*);
using DatabaseOpenViewFn = UINT(WINAPI*)(MSIHANDLE, LPCWSTR, MSIHANDLE*);
using ViewExecuteFn = UINT(WINAPI*)(MSIHANDLE, MSIHANDLE);
using ViewFetchFn = UINT(WINAPI*)(MSIHANDLE, MSIHANDLE*);
using RecordGetStringFn = UINT(WINAPI*)(MSIHANDLE, UINT, LPWSTR, DWORD*);
using CloseHandleFn = UINT(WINAPI*)(MSIHANDLE);

struct MsiQueries {
  MsiQueries() {
    HMODULE msi = SystemLibrary(L"msi.dll");
    open_database = Lookup<OpenDatabaseFn>(msi, "MsiOpenDatabaseW");
    open_view = Lookup<DatabaseOpenViewFn>(msi, "MsiDatabaseOpenViewW");
    execute = Lookup<ViewExecuteFn>(msi, "MsiViewExecute");
    fetch = Lookup<ViewFetchFn>(msi, "MsiViewFetch");
    get_string = Lookup<RecordGetStringFn>(msi, "MsiRecordGetStringW");
    close = Lookup<CloseHandleFn>(msi, "MsiCloseHandle");
  }
  bool loaded() const {
    return open_database != nullptr && open_view != nullptr && execute != nullptr && fetch != nullptr &&
           get_string != nullptr && close != nullptr;
  }

  OpenDatabaseFn open_database = nullptr;
  DatabaseOpenViewFn open_view = nullptr;
  ViewExecuteFn execute = nullptr;
  ViewFetchFn fetch = nullptr;
  RecordGetStringFn get_string = nullptr;
  CloseHandleFn close = nullptr;
};

// Closes one Windows Installer handle through the loaded library.
class MsiHandle {
 public:
  explicit MsiHandle(const MsiQueries& msi) : msi_(msi) {}
  ~MsiHandle() {
    if (handle_ != 0) msi_.close(handle_);
  }
  MsiHandle(const MsiHandle&) = delete;
  MsiHandle& operator=(const MsiHandle&) = delete;
  MSIHANDLE Get() const { return handle_; }
  MSIHANDLE* Receive() { return &handle_; }

 private:
  const MsiQueries& msi_;
  MSIHANDLE handle_ = 0;
};

using VersionInfoSizeFn = DWORD(WINAPI*)(LPCWSTR, LPDWORD);
using VersionInfoFn = BOOL(WINAPI*)(LPCWSTR, DWORD, DWORD, LPVOID);
using QueryValueFn = BOOL(WINAPI*)(LPCVOID, LPCWSTR, LPVOID*, PUINT);

}  // namespace

std::wstring PackageProductVersion(const std::wstring& package) {
  // Looked up on each call: the library stays loaded, and a cached copy
  // would need the runtime's guarded statics.
  const MsiQueries msi;
  if (!msi.loaded()) return std::wstring();
  MsiHandle database(msi);
  if (msi.open_database(package.c_str(), MSIDBOPEN_READONLY, database.Receive()) != ERROR_SUCCESS) {
    return std::wstring();
  }
  MsiHandle view(msi);
  if (msi.open_view(database.Get(), kProductVersionQuery, view.Receive()) != ERROR_SUCCESS) return std::wstring();
  if (msi.execute(view.Get(), 0) != ERROR_SUCCESS) return std::wstring();
  MsiHandle record(msi);
  if (msi.fetch(view.Get(), record.Receive()) != ERROR_SUCCESS) return std::wstring();
  wchar_t value[kVersionChars] = {};
  DWORD length = kVersionChars;
  if (msi.get_string(record.Get(), kValueField, value, &length) != ERROR_SUCCESS) return std::wstring();
  return std::wstring(value, length < kVersionChars ? length : kVersionChars - 1);
}

std::wstring ExecutableFileVersion(const std::wstring& executable) {
  const HMODULE version = SystemLibrary(L"version.dll");
  auto info_size = Lookup<VersionInfoSizeFn>(version, "GetFileVersionInfoSizeW");
  auto info = Lookup<VersionInfoFn>(version, "GetFileVersionInfoW");
  auto query = Lookup<QueryValueFn>(version, "VerQueryValueW");
  if (info_size == nullptr || info == nullptr || query == nullptr) return std::wstring();

  DWORD ignored = 0;
  DWORD size = info_size(executable.c_str(), &ignored);
  if (size == 0 || size > kMaxVersionInfoBytes) return std::wstring();
  std::vector<BYTE> block(size);
  if (!info(executable.c_str(), 0, size, block.data())) return std::wstring();
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT fixed_size = 0;
  if (!query(block.data(), L"\\", reinterpret_cast<LPVOID*>(&fixed), &fixed_size) || fixed == nullptr ||
      fixed_size < sizeof(VS_FIXEDFILEINFO)) {
    return std::wstring();
  }
  return base::Format(L"%d.%d.%d.%d", HIWORD(fixed->dwFileVersionMS), LOWORD(fixed->dwFileVersionMS),
                      HIWORD(fixed->dwFileVersionLS), LOWORD(fixed->dwFileVersionLS));
}

}  // namespace stubframework::externalmethods
