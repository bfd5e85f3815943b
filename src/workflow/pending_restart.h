// The product installer's pending-restart marker: "RebootPending" under
// HKCU\SOFTWARE\Brelvo\Tessary\22.0\Setup. The stub never writes it; it reads
// it before installing and removes it once a restart was asked for.
#pragma once

namespace stubframework::workflow {

inline constexpr wchar_t kPendingRestartKey[] = L"SOFTWARE\\Brelvo\\Tessary\\22.0\\Setup";
inline constexpr wchar_t kPendingRestartValue[] = L"RebootPending";

// True only when the value reads as text and is exactly "1".
bool IsRestartPending();

// Deletes the value; true only when it existed, was deleted and the key
// closed without error.
bool RemovePendingRestart();

}  // namespace stubframework::workflow
