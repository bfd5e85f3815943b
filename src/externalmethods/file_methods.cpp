#include "externalmethods/file_methods.h"

#include <shlobj.h>
#include <shlwapi.h>

#include <cwctype>
#include <string>

#include "archive/file_crc.h"
#include "base/log.h"
#include "base/unique_handle.h"
#include "base/wide_format.h"
#include "externalmethods/external_methods.h"
#include "externalmethods/file_version.h"
#include "externalmethods/script_call.h"
#include "htmlui/ui_host.h"

namespace stubframework::externalmethods {

namespace {

// The probe folder isDestReadOnly makes and removes again.
constexpr wchar_t kProbeFolder[] = L"\\STUB1719";

bool StartsWith(const std::wstring& text, const wchar_t* prefix) { return text.rfind(prefix, 0) == 0; }

// The whole text, without regard to case (a zero character inside counts).
bool EqualsNoCase(const std::wstring& text, const std::wstring& word) {
  return text.size() == word.size() && _wcsnicmp(text.c_str(), word.c_str(), word.size()) == 0;
}

// Opened for reading with no sharing, so a file a worker still writes cannot
// be read half-done. Only a file on a disk: a pipe or a device could keep the
// window's thread waiting for ever.
base::UniqueHandle OpenUnsharedFile(const std::wstring& path) {
  if (path.empty() || IsDevicePath(path)) return base::UniqueHandle();
  base::UniqueHandle file(
      ::CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (file && ::GetFileType(file.Get()) != FILE_TYPE_DISK) file.Reset();
  return file;
}

HWND OwnerWindow(ExternalMethods& methods) {
  htmlui::UiHost* host = methods.ui_host();
  HWND window = host == nullptr ? nullptr : host->window();
  return window != nullptr ? window : methods.host_window();
}

}  // namespace

bool IsDevicePath(const std::wstring& path) {
  if (StartsWith(path, L"\\\\.\\") || StartsWith(path, L"//./")) return true;
  if (!StartsWith(path, L"\\\\?\\")) return false;
  const std::wstring rest = path.substr(4);
  const bool drive = rest.size() >= 3 && std::iswalpha(rest[0]) && rest[1] == L':' && rest[2] == L'\\';
  const bool unc = rest.size() >= 4 && _wcsnicmp(rest.c_str(), L"UNC\\", 4) == 0;
  return !drive && !unc;
}

HRESULT IsFileExistsMethod(ExternalMethods& methods, ScriptCall& call) {
  const std::wstring path = call.Text(0);
  const bool exists = ::PathFileExistsW(path.c_str()) != FALSE;
  base::LogDebug(methods.log(), L"args: %s, Result: %s", path.c_str(), exists ? L"exist" : L"not exist");
  call.ReturnBool(exists);
  return S_OK;
}

HRESULT IsDestReadOnlyMethod(ExternalMethods& methods, ScriptCall& call) {
  const std::wstring folder = call.Text(0);
  const std::wstring probe = folder + kProbeFolder;
  bool read_only = false;
  if (!::CreateDirectoryW(probe.c_str(), nullptr)) read_only = ::GetLastError() != ERROR_ALREADY_EXISTS;
  // Also an empty folder of that name that was there before.
  ::RemoveDirectoryW(probe.c_str());
  base::LogDebug(methods.log(), L"args: %s, Result: %s", folder.c_str(), read_only ? L"readonly" : L"not readonly");
  call.ReturnBool(read_only);
  return S_OK;
}

HRESULT CreateDirectoryMethod(ExternalMethods& methods, ScriptCall& call) {
  const std::wstring path = call.Text(0);
  // An existing folder is no success: the pages ask isFileExists first.
  call.ReturnBool(::SHCreateDirectoryExW(OwnerWindow(methods), path.c_str(), nullptr) == ERROR_SUCCESS);
  return S_OK;
}

HRESULT GetDiskAvailableSpaceMethod(ExternalMethods& methods, ScriptCall& call) {
  const std::wstring path = call.Text(0);
  ULARGE_INTEGER total_free = {};
  // The volume's free bytes, not the caller's quota.
  if (!::GetDiskFreeSpaceExW(path.c_str(), nullptr, nullptr, &total_free)) total_free.QuadPart = 0;
  base::LogDebug(methods.log(), L"EMGetDiskAvailableSpace args: %s, Result", path.c_str());
  // The runtime's own formatting: std::to_wstring would bring the C99 wide printf.
  return call.ReturnText(base::Format(L"%I64u", total_free.QuadPart));
}

HRESULT GetFileSizeMethod(ExternalMethods& methods, ScriptCall& call) {
  LARGE_INTEGER size = {};
  base::UniqueHandle file = OpenUnsharedFile(call.Text(0));
  if (!file || !::GetFileSizeEx(file.Get(), &size)) size.QuadPart = 0;
  const std::wstring result = base::Format(L"%I64u", static_cast<unsigned long long>(size.QuadPart));
  base::LogDebug(methods.log(), L"EMGetFileSize %s", result.c_str());
  return call.ReturnText(result);
}

HRESULT GetCrcMethod(ExternalMethods& methods, ScriptCall& call) {
  const std::wstring path = call.Text(0);
  // Checked here, read by the checksum routine once this handle is closed.
  const bool readable = static_cast<bool>(OpenUnsharedFile(path));
  const std::wstring result = readable ? archive::FileCrcText(path) : L"0";
  base::LogDebug(methods.log(), L"EMGetCRC args %s, Result %s", path.c_str(), result.c_str());
  return call.ReturnText(result);
}

HRESULT GetFileVersionMethod(ExternalMethods& methods, ScriptCall& call) {
  const std::wstring extension = call.Text(0);
  const std::wstring file = call.Text(1);
  std::wstring version;
  if (!IsDevicePath(file)) {
    if (EqualsNoCase(extension, L".MSI")) {
      version = PackageProductVersion(file);
    } else if (EqualsNoCase(extension, L".EXE")) {
      version = ExecutableFileVersion(file);
    }
  }
  base::LogDebug(methods.log(), L"EMGetMSIFileVersion args %s, Result %s", file.c_str(), version.c_str());
  return call.ReturnText(version);
}

}  // namespace stubframework::externalmethods
