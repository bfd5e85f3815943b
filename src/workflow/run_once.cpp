#include "workflow/run_once.h"

#include <windows.h>

#include <cwchar>

#include "base/registry.h"
#include "base/registry_path.h"
#include "base/unique_handle.h"

namespace stubframework::workflow {

namespace {

constexpr wchar_t kResumeArgument[] = L" RESUME=";
constexpr wchar_t kModeDownloading[] = L"DOWNLOADING";
constexpr wchar_t kModeInstalling[] = L"INSTALLING";

}  // namespace

std::wstring RunOnceValueName(const std::wstring& product_id, const std::wstring& product_version) {
  return product_id + L"_" + product_version.substr(0, product_version.find(L'.'));
}

std::wstring RunOnceCommand(const std::wstring& stub_path, const std::wstring& mode) {
  return L"\"" + stub_path + L"\"" + kResumeArgument + mode;
}

const wchar_t* ResumableMode(const std::wstring& mode) {
  for (const wchar_t* known : {kModeDownloading, kModeInstalling}) {
    // Compared whole: text after an embedded zero must not slip through.
    if (mode.size() == wcslen(known) && _wcsicmp(mode.c_str(), known) == 0) return known;
  }
  return nullptr;
}

bool WriteRunOnce(const std::wstring& value_name, const std::wstring& command) {
  return base::RegistryWriteValue(kRunOnceKey, value_name, command, true);
}

bool DeleteRunOnce(const std::wstring& value_name) {
  base::RegistryPath path = base::ParseRegistryPath(kRunOnceKey);
  base::UniqueHKey key;
  ::RegOpenKeyExW(path.root, path.subkey.c_str(), 0, KEY_SET_VALUE | KEY_WOW64_64KEY, key.Receive());
  return key && ::RegDeleteValueW(key.Get(), value_name.c_str()) == ERROR_SUCCESS;
}

}  // namespace stubframework::workflow
