// The product's compiled-in identity and the constants start-up relies on.
#pragma once

namespace stubframework::app {

inline constexpr wchar_t kProductName[] = L"Tessary";
inline constexpr wchar_t kProductVersion[] = L"22.0.0.0";
inline constexpr wchar_t kFrameworkVersion[] = L"1.0";
inline constexpr wchar_t kChannel[] = L"test";

inline constexpr wchar_t kSettingsBase[] = L"HKEY_CURRENT_USER\\SOFTWARE\\Brelvo\\stubframework";
inline constexpr wchar_t kInstanceMutexName[] = L"BrelvoStubFramework";
inline constexpr wchar_t kStartPage[] = L"Load.html";

// Integer settings equal to this have not been loaded yet; also the exit code
// when no self-update code is stored.
inline constexpr int kUnsetValue = 0x7FFFFFFF;
// Exit code telling the parent that a newer stub is ready.
inline constexpr int kSelfUpdateExitCode = 197800;
// The setting that names the newer stub, saved beside the working copy.
inline constexpr wchar_t kUpdateStubNameSetting[] = L"update_stub_name";

// Install status values as the pages use them.
enum InstallStatus : int {
  kStatusNotStarted = 0,
  kStatusCompleted = 1,
  kStatusError = 2,
  kStatusCancelled = 3,
  kStatusEnvironmentNotMet = 4,
  kStatusDownloaded = 5,
  kStatusStubFailed = 6,
};

}  // namespace stubframework::app
