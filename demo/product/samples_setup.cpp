// setup.exe of the demo product's second component, a ZIP package: installs
// the package's samples\ folder into the product's folder under Program
// Files and records the component's version where the setup pages look for
// it. "/restart" installs and then asks for a restart (exit code 3010);
// "/uninstall" removes what an install put there.
#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include <cwchar>
#include <filesystem>
#include <memory>
#include <system_error>

#include "base/registry.h"

namespace fs = std::filesystem;

namespace {

constexpr wchar_t kVersionKey[] = L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Brelvo\\Tessary\\22.0\\Samples";
constexpr wchar_t kVersion[] = L"22.0.0.0";
constexpr int kRestartRequired = 3010;

fs::path TargetFolder() {
  wchar_t program_files[MAX_PATH] = {};
  if (FAILED(::SHGetFolderPathW(nullptr, CSIDL_PROGRAM_FILES, nullptr, SHGFP_TYPE_CURRENT, program_files))) return {};
  return fs::path(program_files) / L"Brelvo" / L"Tessary 22" / L"Samples";
}

fs::path OwnFolder() {
  wchar_t self[MAX_PATH] = {};
  DWORD length = ::GetModuleFileNameW(nullptr, self, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return {};
  return fs::path(self).parent_path();
}

// Copies every file below samples\, replacing earlier copies. (File by file:
// fs::copy of a folder fails here on a target folder that exists.)
bool Install(const fs::path& target) {
  fs::path source = OwnFolder() / L"samples";
  std::error_code error;
  for (fs::recursive_directory_iterator it(source, error), end; !error && it != end; it.increment(error)) {
    if (!it->is_regular_file(error)) continue;
    fs::path copy = target / fs::relative(it->path(), source, error);
    if (!fs::is_directory(copy.parent_path())) fs::create_directories(copy.parent_path(), error);
    if (!error) fs::copy_file(it->path(), copy, fs::copy_options::overwrite_existing, error);
  }
  if (error) return false;
  return stubframework::base::RegistryWriteValue(kVersionKey, L"Version", kVersion, false);
}

bool Uninstall(const fs::path& target) {
  std::error_code error;
  fs::remove_all(target, error);
  stubframework::base::RegistryDeleteKey(kVersionKey, false);
  return !error;
}

struct LocalFreeDeleter {
  void operator()(wchar_t** block) const { ::LocalFree(block); }
};

bool HasArgument(const wchar_t* wanted) {
  int count = 0;
  std::unique_ptr<wchar_t*, LocalFreeDeleter> args(::CommandLineToArgvW(::GetCommandLineW(), &count));
  for (int i = 1; args && i < count; ++i) {
    if (_wcsicmp(args.get()[i], wanted) == 0) return true;
  }
  return false;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  fs::path target = TargetFolder();
  if (target.empty()) return 1;
  if (HasArgument(L"/uninstall")) return Uninstall(target) ? 0 : 1;
  // 1603: the installer's "fatal error", which the setup reports as a failure.
  if (!Install(target)) return 1603;
  return HasArgument(L"/restart") ? kRestartRequired : 0;
}
