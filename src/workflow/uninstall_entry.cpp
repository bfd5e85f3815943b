#include "workflow/uninstall_entry.h"

#include <shlobj.h>

#include "base/registry_path.h"
#include "base/secured_folder.h"
#include "base/unique_handle.h"
#include "identity/product_identity.h"
#include "workflow/maintenance_command.h"

namespace stubframework::workflow {

namespace {

std::wstring FileNameOf(const std::wstring& path) {
  size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

bool IsPlainFile(const std::wstring& path) {
  DWORD attributes = ::GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES &&
         (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0;
}

bool SetValue(HKEY key, const RegistryValue& value) {
  if (value.type == REG_DWORD) {
    return ::RegSetValueExW(key, value.name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value.number),
                            sizeof(value.number)) == ERROR_SUCCESS;
  }
  DWORD bytes = static_cast<DWORD>((value.text.size() + 1) * sizeof(wchar_t));
  return ::RegSetValueExW(key, value.name.c_str(), 0, value.type, reinterpret_cast<const BYTE*>(value.text.c_str()),
                          bytes) == ERROR_SUCCESS;
}

bool WriteValues(const std::wstring& key_path, bool view64, const std::vector<RegistryValue>& values) {
  base::RegistryPath path = base::ParseRegistryPath(key_path);
  if (path.root == nullptr) return false;
  base::UniqueHKey key;
  REGSAM access = KEY_SET_VALUE | (view64 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY);
  if (::RegCreateKeyExW(path.root, path.subkey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, access, nullptr,
                        key.Receive(), nullptr) != ERROR_SUCCESS) {
    return false;
  }
  bool all = true;
  for (const RegistryValue& value : values) all = SetValue(key.Get(), value) && all;
  return all;
}

std::wstring CommonAppData() {
  wchar_t folder[MAX_PATH] = {};
  if (FAILED(::SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder))) {
    return std::wstring();
  }
  return folder;
}

}  // namespace

std::wstring StubCopyFolder(const std::wstring& common_app_data, const std::wstring& product_id) {
  std::wstring folder = common_app_data;
  if (!folder.empty() && folder.back() != L'\\') folder += L'\\';
  return folder + identity::kPublisher + L"\\" + product_id + L"\\";
}

std::vector<RegistryValue> UninstallEntryValues(const std::wstring& stub_copy) {
  const std::wstring quoted = L"\"" + stub_copy + L"\"";
  return {
      {L"UninstallString", REG_EXPAND_SZ, quoted + L" /uninstall ", 0},
      {L"ModifyPath", REG_EXPAND_SZ, quoted + L" /modify ", 0},
      {L"WindowsInstaller", REG_DWORD, std::wstring(), 0},
      {L"DisplayIcon", REG_SZ, stub_copy, 0},
  };
}

std::wstring PlaceStubCopy(const std::wstring& common_app_data, const std::wstring& product_id,
                          const std::wstring& source, const std::wstring& name) {
  const std::wstring app_data = common_app_data.empty() ? CommonAppData() : common_app_data;
  // The product id is a setting the user can change: it must stay one folder.
  if (app_data.empty() || name.empty() || name.find_first_of(L"\\/:") != std::wstring::npos || product_id.empty() ||
      product_id.find_first_of(L"\\/:") != std::wstring::npos || product_id == L"." || product_id == L"..") {
    return std::wstring();
  }
  const std::wstring folder = StubCopyFolder(app_data, product_id);
  // The copy runs elevated: its folders are made so that only administrators
  // can change them, and folders someone else made first, or links, are
  // refused.
  if (base::EnsureProtectedFolder(app_data, folder) != base::FolderCheck::kOk) return std::wstring();
  const std::wstring stub_copy = folder + name;
  base::CopyFileNoFollow(source, stub_copy);
  // A copy that could not be replaced (it may be running) still serves; a
  // command for a copy that is not there would start nothing, or what someone
  // puts there later.
  return IsPlainFile(stub_copy) ? stub_copy : std::wstring();
}

bool WriteUninstallEntry(const UninstallEntryRequest& request) {
  const std::wstring stub_copy = PlaceStubCopy(request.common_app_data, request.product_id, request.stub_path,
                                               FileNameOf(request.stub_path));
  if (stub_copy.empty()) return false;
  return WriteValues(UninstallKeyPath(request.braced_code), request.view64, UninstallEntryValues(stub_copy));
}

}  // namespace stubframework::workflow
