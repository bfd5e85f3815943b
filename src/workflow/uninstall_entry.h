// The product's entry in the system's list of installed programs, pointing at
// a copy of the stub, so that removing or changing the product from there
// starts the stub again with "/uninstall" or "/modify".
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace stubframework::workflow {

// "<common application data>\<publisher>\<product id>\" (the publisher is a
// build setting, STUB_PUBLISHER).
std::wstring StubCopyFolder(const std::wstring& common_app_data, const std::wstring& product_id);

struct RegistryValue {
  std::wstring name;
  DWORD type;
  std::wstring text;  // REG_SZ and REG_EXPAND_SZ
  DWORD number;       // REG_DWORD
};

// The four values for a stub copy. The system runs "UninstallString" and
// "ModifyPath" as command lines, so the path is quoted there: unquoted, a
// path with a blank would start another program or none.
std::vector<RegistryValue> UninstallEntryValues(const std::wstring& stub_copy);

// Copies `source` as `name` into StubCopyFolder (common_app_data empty: the
// system's all-users folder), making its folders with the protected access
// list; a folder on the way that is a link or that someone other than SYSTEM
// or Administrators owns gets nothing. The copy's path, or empty.
std::wstring PlaceStubCopy(const std::wstring& common_app_data, const std::wstring& product_id,
                          const std::wstring& source, const std::wstring& name);

struct UninstallEntryRequest {
  std::wstring braced_code;  // a checked product code
  std::wstring product_id;
  std::wstring stub_path;    // the running executable
  bool view64 = false;
  std::wstring common_app_data;  // empty: the system's all-users folder
};

// Copies the stub into its folder under the common application data (replacing
// an older copy) and writes the entry in the chosen registry view. False when
// the copy or any value could not be made, and, with no copy and no entry,
// when a folder on the way is a link or exists with an owner other than
// SYSTEM or Administrators.
bool WriteUninstallEntry(const UninstallEntryRequest& request);

}  // namespace stubframework::workflow
