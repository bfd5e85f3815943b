#include "externalmethods/path_methods.h"

#include <shlobj.h>

#include <vector>

#include "base/log.h"
#include "externalmethods/external_methods.h"
#include "externalmethods/script_call.h"

namespace stubframework::externalmethods {

namespace {

// A temporary folder this long leaves no room for a name inside it.
constexpr DWORD kMaxTempChars = 259;
constexpr DWORD kLongPathChars = 520;
// Module paths are read whole, long paths included.
constexpr DWORD kModulePathChars = 32768;

std::wstring ModuleFolder() {
  std::vector<wchar_t> path(kModulePathChars);
  DWORD length = ::GetModuleFileNameW(nullptr, path.data(), kModulePathChars);
  if (length == 0 || length >= kModulePathChars) return std::wstring();
  return FolderOf(std::wstring(path.data(), length));
}

// "<temp>\" in its long form, or empty.
std::wstring UserTempFolder() {
  wchar_t temp[MAX_PATH + 1] = {};
  DWORD length = ::GetTempPathW(MAX_PATH + 1, temp);
  if (length == 0 || length >= kMaxTempChars) return std::wstring();
  wchar_t long_form[kLongPathChars] = {};
  DWORD long_length = ::GetLongPathNameW(temp, long_form, kLongPathChars);
  if (long_length == 0 || long_length >= kLongPathChars) return std::wstring(temp, length);
  return std::wstring(long_form, long_length);
}

}  // namespace

std::wstring FolderOf(const std::wstring& path) {
  size_t slash = path.rfind(L'\\');
  return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

std::wstring DesktopFolder() {
  wchar_t desktop[MAX_PATH] = {};
  if (FAILED(::SHGetFolderPathW(nullptr, CSIDL_DESKTOPDIRECTORY, nullptr, SHGFP_TYPE_CURRENT, desktop))) {
    return std::wstring();
  }
  return desktop;
}

HRESULT GetCurrentPathMethod(ExternalMethods& methods, ScriptCall& call) {
  LaunchFacts* launch = methods.launch();
  const std::wstring stub = launch == nullptr ? std::wstring() : launch->stub_path();
  const std::wstring folder = stub.find(L'\\') != std::wstring::npos ? FolderOf(stub) : ModuleFolder();
  base::LogDebug(methods.log(), L"EMGetCurrentPath %s", folder.c_str());
  return call.ReturnText(folder);
}

HRESULT GetDesktopPathMethod(ExternalMethods& methods, ScriptCall& call) {
  const std::wstring desktop = DesktopFolder();
  base::LogDebug(methods.log(), L"EMGetDesktopPath %s", desktop.c_str());
  return call.ReturnText(desktop);
}

HRESULT GetTempPathMethod(ExternalMethods& methods, ScriptCall& call) {
  std::wstring name = call.Text(0);
  LaunchFacts* launch = methods.launch();
  if (name.empty() && launch != nullptr) name = launch->product_id();
  std::wstring folder = UserTempFolder();
  if (!folder.empty()) {
    folder += name + L"\\";
    // An existing folder is as good as a new one.
    ::CreateDirectoryW(folder.c_str(), nullptr);
  }
  base::LogDebug(methods.log(), L"EMGetTempPath %s", folder.c_str());
  return call.ReturnText(folder);
}

}  // namespace stubframework::externalmethods
