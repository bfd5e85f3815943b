// The RunOnce entry that starts the stub again after a restart, in resume mode.
#pragma once

#include <string>

namespace stubframework::workflow {

// HKLM, always in the 64-bit view.
inline constexpr wchar_t kRunOnceKey[] = L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce";

// product id + "_" + the version up to its first "." ("Tessary_22").
std::wstring RunOnceValueName(const std::wstring& product_id, const std::wstring& product_version);

// The stub path in double quotes, " RESUME=" and the mode ("INSTALLING").
// Without a stub path the data begins with two double quotes.
std::wstring RunOnceCommand(const std::wstring& stub_path, const std::wstring& mode);

// "DOWNLOADING" or "INSTALLING" for the page's mode text in any letter case;
// null for anything else. Only these go into the entry's command line.
const wchar_t* ResumableMode(const std::wstring& mode);

// Creates the key when missing; REG_SZ.
bool WriteRunOnce(const std::wstring& value_name, const std::wstring& command);
bool DeleteRunOnce(const std::wstring& value_name);

}  // namespace stubframework::workflow
