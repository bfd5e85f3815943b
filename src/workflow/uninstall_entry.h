// The product's entry in the system's list of installed programs, pointing at
// a copy of the stub, so that removing or changing the product from there
// starts the stub again with "/uninstall" or "/modify".
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace stubframework::workflow {

// "<common application data>\Brelvo\<product id>\".
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

struct UninstallEntryRequest {
  std::wstring braced_code;  // a checked product code
  std::wstring product_id;
  std::wstring stub_path;    // the running executable
  bool view64 = false;
  HWND owner = nullptr;      // for the folder creation's messages
};

// Copies the stub into its folder under the common application data (replacing
// an older copy) and writes the entry in the chosen registry view. False when
// the copy or any value could not be made.
bool WriteUninstallEntry(const UninstallEntryRequest& request);

}  // namespace stubframework::workflow
