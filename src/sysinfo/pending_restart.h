// The mark an earlier install of the product leaves when it needs a restart:
// value "RebootPending" under kPendingRestartKey of HKEY_CURRENT_USER. This
// program only reads and removes it.
#pragma once

#include "sysinfo/fact_source.h"

namespace stubframework::sysinfo {

inline constexpr wchar_t kPendingRestartKey[] = L"SOFTWARE\\Brelvo\\Tessary\\22.0\\Setup";
inline constexpr wchar_t kPendingRestartValue[] = L"RebootPending";

// True only when the value reads as the text "1".
bool IsRestartPending(const FactSource& facts = WindowsFacts());

// Deletes the value; true only when it existed, was deleted and the key closed cleanly.
bool RemovePendingRestart();

}  // namespace stubframework::sysinfo
