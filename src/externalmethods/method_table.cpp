#include "externalmethods/method_signature.h"

#include "externalmethods/property_methods.h"
#include "externalmethods/registry_methods.h"
#include "externalmethods/maintenance_methods.h"
#include "externalmethods/self_update_methods.h"
#include "externalmethods/window_methods.h"
#include "externalmethods/download_methods.h"
#include "externalmethods/install_methods.h"
#include "externalmethods/resume_methods.h"
#include "externalmethods/telemetry_methods.h"
#include "externalmethods/dialog_methods.h"
#include "externalmethods/file_methods.h"
#include "externalmethods/path_methods.h"
#include "externalmethods/process_methods.h"
#include "externalmethods/settings_methods.h"
#include "externalmethods/system_methods.h"
#include "externalmethods/product/product_methods.h"

namespace stubframework::externalmethods {

namespace {

// The words a row is written in.
constexpr VARTYPE kText = VT_BSTR;
constexpr VARTYPE kInt = VT_I4;
constexpr VARTYPE kBool = VT_BOOL;
constexpr VARTYPE kPageFunction = VT_DISPATCH;  // called back later by a worker

constexpr CallKind kMethod = CallKind::kMethod;
constexpr CallKind kMethodOrGet = CallKind::kMethodGet;
constexpr CallKind kAnyCall = CallKind::kUnchecked;

constexpr ResultKind kNothing = ResultKind::kNone;
constexpr ResultKind kReturnsText = ResultKind::kText;
constexpr ResultKind kReturnsBool = ResultKind::kBool;
constexpr ResultKind kReturnsInt = ResultKind::kInt;
constexpr ResultKind kReturnsUnsigned = ResultKind::kUnsignedInt;

constexpr TagAt kNoTag = TagAt::kNone;
constexpr TagAt kTagOnEntry = TagAt::kBeforeChecks;
constexpr TagAt kTagAfterChecks = TagAt::kBeforeResultSlot;
constexpr TagAt kTagBeforeWork = TagAt::kBeforeWork;

// name, how it is called, its arguments in script order, what it returns,
// its tag and where the tag is logged, its body[, flags]
constexpr MethodSignature kRows[kMethodCount] = {
    // Framework names, in registration order.
    {L"download", kMethod, {kText, kText, kText, kBool, kBool, kPageFunction}, kNothing, L"EMDownload", kTagOnEntry, DownloadMethod},
    {L"isDestReadOnly", kMethodOrGet, {kText}, kReturnsBool, L"EMisDestReadOnly", kTagBeforeWork, IsDestReadOnlyMethod},
    {L"stopDownload", kMethod, {}, kNothing, L"EMStopDownload", kTagOnEntry, StopDownloadMethod},
    {L"install", kMethod, {kText, kText, kText, kInt, kPageFunction}, kNothing, L"EMInstall", kTagOnEntry, InstallMethod},
    {L"closeWindow", kMethod, {}, kNothing, L"ZSClose", kTagBeforeWork, CloseWindowMethod},
    // The three window toggles log after acting: their bodies write the line.
    {L"minimizeWindow", kMethod, {}, kNothing, nullptr, kNoTag, MinimizeWindowMethod},
    {L"dragWindow", kMethod, {}, kNothing, L"ZSDragWindow", kTagBeforeWork, DragWindowMethod},
    {L"hideWindow", kMethod, {}, kNothing, nullptr, kNoTag, HideWindowMethod},
    {L"showWindow", kMethod, {}, kNothing, nullptr, kNoTag, ShowWindowMethod},
    {L"terminateWindow", kMethod, {}, kNothing, nullptr, kNoTag, TerminateWindowMethod},
    {L"selectFolder", kMethodOrGet, {kText}, kReturnsText, L"EMSelectFolder", kTagBeforeWork, SelectFolderMethod},
    {L"startProgram", kMethod, {kText, kText}, kNothing, nullptr, kNoTag, StartProgramMethod},
    {L"messageBox", kMethod, {kText, kText}, kNothing, nullptr, kNoTag, MessageBoxMethod},
    {L"messageBoxExit", kMethod, {kText, kText}, kNothing, nullptr, kNoTag, MessageBoxExitMethod},
    {L"messageBoxCancel", kMethod, {kText, kText}, kNothing, nullptr, kNoTag, MessageBoxCancelMethod},
    {L"messageBoxError", kMethod, {kText, kText}, kNothing, nullptr, kNoTag, MessageBoxErrorMethod},
    {L"restartSystem", kMethod, {kText, kText}, kNothing, nullptr, kNoTag, RestartSystemMethod},
    {L"restartSystemNoMsg", kMethod, {}, kNothing, nullptr, kNoTag, RestartSystemNoMsgMethod},
    {L"deleteRegKey", kMethod, {kText, kBool}, kNothing, L"EMDeleteRegKey", kTagBeforeWork, DeleteRegKeyMethod},
    {L"runAfterReboot", kMethod, {kText}, kNothing, L"EMRunAfterReboot", kTagOnEntry, RunAfterRebootMethod},
    {L"undoRunAfterReboot", kMethod, {}, kNothing, L"EMUndoRunAfterReboot", kTagOnEntry, UndoRunAfterRebootMethod},
    {L"setWindowSize", kMethod, {kInt, kInt}, kNothing, nullptr, kNoTag, SetWindowSizeMethod},
    {L"setProperty", kMethod, {kText, kText}, kNothing, L"EMSetProperty", kTagOnEntry, SetPropertyMethod},
    {L"setLang", kMethod, {kInt}, kNothing, nullptr, kNoTag, SetLangMethod},
    {L"setInstallStatus", kMethod, {kInt}, kNothing, nullptr, kNoTag, SetInstallStatusMethod},
    {L"setChannel", kMethod, {kText}, kNothing, nullptr, kNoTag, SetChannelMethod},
    {L"setDataToReg", kMethod, {kText, kText, kText, kBool}, kNothing, L"EMSetDataToReg", kTagBeforeWork, SetDataToRegMethod},
    {L"isFileExists", kMethodOrGet, {kText}, kReturnsBool, nullptr, kNoTag, IsFileExistsMethod},
    {L"isSkipSelfUpdate", kMethod, {}, kReturnsBool, nullptr, kNoTag, IsSkipSelfUpdateMethod},
    {L"isNeedSelfUpdate", kMethodOrGet, {kText}, kReturnsBool, nullptr, kNoTag, IsNeedSelfUpdateMethod},
    {L"isSilentLaunchStub", kMethod, {}, kReturnsBool, nullptr, kNoTag, IsSilentLaunchStubMethod},
    {L"selfUpdate", kMethod, {kText, kPageFunction}, kNothing, nullptr, kNoTag, SelfUpdateMethod},
    {L"createDirectory", kMethodOrGet, {kText}, kReturnsBool, nullptr, kNoTag, CreateDirectoryMethod},
    {L"initDownloadSize", kMethod, {kText, kText, kBool}, kNothing, L"EMInitDownloadSize", kTagOnEntry, InitDownloadSizeMethod},
    {L"trackUserActivity", kMethod, {kText}, kNothing, L"EMTrackUserActivity", kTagBeforeWork, TrackUserActivityMethod},
    {L"openPage", kMethodOrGet, {kText}, kReturnsBool, L"EMOpenPage", kTagBeforeWork, OpenPageMethod},
    // Reads its argument as text without checking its type.
    {L"runApplication", kMethodOrGet, {kText}, kReturnsBool, L"EMRunApplication", kTagAfterChecks, RunApplicationMethod, kArgumentsAsText},
    {L"executeCommand", kMethodOrGet, {kText}, kReturnsBool, L"EMExecuteCommand", kTagAfterChecks, ExecuteCommandMethod},
    {L"updateInstallerList", kMethod, {kText, kText, kBool, kBool, kPageFunction}, kNothing, L"EMUpdateInstallerList", kTagBeforeWork, UpdateInstallerListMethod},
    {L"startRegApps", kMethod, {}, kNothing, L"EMStartRegApps", kTagBeforeWork, StartRegAppsMethod},
    {L"searchRegKey", kMethodOrGet, {kBool, kText, kText, kText}, kReturnsBool, L"EMSearchRegKey", kTagOnEntry, SearchRegKeyMethod},
    {L"getProperty", kMethodOrGet, {kText}, kReturnsText, nullptr, kNoTag, GetPropertyMethod},
    {L"getDiskAvailableSpace", kMethodOrGet, {kText}, kReturnsText, L"EMGetDiskAvailableSpace", kTagBeforeWork, GetDiskAvailableSpaceMethod},
    {L"getOSLang", kMethod, {}, kReturnsInt, nullptr, kNoTag, GetOSLangMethod},
    {L"getLanguageByID", kMethodOrGet, {kInt}, kReturnsInt, nullptr, kNoTag, GetLanguageByIdMethod},
    {L"getParsedInstallLanguage", kMethodOrGet, {kText}, kReturnsInt, nullptr, kNoTag, GetParsedInstallLanguageMethod},
    {L"getFileVersion", kMethodOrGet, {kText, kText}, kReturnsText, L"EMGetMSIFileVersion", kTagBeforeWork, GetFileVersionMethod},
    {L"getDataFromReg", kMethodOrGet, {kText, kText}, kReturnsText, L"EMGetDataFromReg", kTagBeforeWork, GetDataFromRegMethod},
    {L"getCrc", kMethodOrGet, {kText}, kReturnsText, L"EMGetCRC", kTagBeforeWork, GetCrcMethod},
    {L"getOSVersion", kMethod, {}, kReturnsText, nullptr, kNoTag, GetOSVersionMethod},
    {L"getResumeMode", kMethod, {}, kReturnsInt, nullptr, kNoTag, GetResumeModeMethod},
    {L"getResourceLocation", kMethod, {}, kReturnsText, nullptr, kNoTag, GetResourceLocationMethod},
    {L"getCurrentPath", kMethod, {}, kReturnsText, L"EMGetCurrentPath", kTagBeforeWork, GetCurrentPathMethod},
    {L"getDesktopPath", kMethod, {}, kReturnsText, L"EMGetDesktopPath", kTagBeforeWork, GetDesktopPathMethod},
    {L"getTempPath", kMethodOrGet, {kText}, kReturnsText, L"EMGetTempPath", kTagBeforeWork, GetTempPathMethod},
    {L"getBaseRegKey", kMethod, {}, kReturnsText, L"EMGetBaseRegKey", kTagBeforeWork, GetBaseRegKeyMethod},
    {L"getFileSize", kMethodOrGet, {kText}, kReturnsText, L"EMGetFileSize", kTagBeforeWork, GetFileSizeMethod},
    {L"getLastInstallError", kMethod, {}, kReturnsUnsigned, L"EMGetLastInstallError", kTagOnEntry, GetLastInstallErrorMethod},
    {L"checkOS", kMethodOrGet, {kText, kText}, kReturnsBool, L"EMCheckOS", kTagBeforeWork, CheckOSMethod},
    {L"getMachineId", kMethod, {}, kReturnsText, L"EMGetMachineId", kTagBeforeWork, GetMachineIdMethod},
    {L"setUninstallRegistryFromStub", kMethod, {kText, kBool}, kNothing, L"SetUninstallRegistryFromStub", kTagOnEntry, SetUninstallRegistryFromStubMethod},
    {L"isUninstallModeLaunch", kMethod, {}, kReturnsBool, L"EMIsUninstallModeLaunch", kTagOnEntry, IsUninstallModeLaunchMethod},
    // Shows its box even when nobody takes the answer.
    {L"confirmMessageBox", kMethodOrGet, {kText, kText}, kReturnsBool, L"EMConfirmMessageBox", kTagBeforeWork, ConfirmMessageBoxMethod, kRunsWithoutResult},
    {L"removeProgram", kMethod, {kText, kBool, kText, kPageFunction}, kNothing, L"EMRemoveProgram", kTagOnEntry, RemoveProgramMethod},
    {L"repairProgram", kMethod, {kText, kText, kPageFunction}, kNothing, L"ZSRepairProgram", kTagOnEntry, RepairProgramMethod},
    {L"verifyFileInSpecialDirectory", kMethod, {kText, kText, kPageFunction}, kNothing, L"EMVerifyFileInSpecialDirectory", kTagOnEntry, VerifyFileInSpecialDirectoryMethod},
    {L"cancelVerifyThread", kMethod, {}, kNothing, nullptr, kNoTag, CancelVerifyThreadMethod},
    {L"isInEmbargoedCountry", kMethod, {}, kReturnsBool, nullptr, kNoTag, IsInEmbargoedCountryMethod},
    {L"isInternetConnected", kMethod, {}, kReturnsBool, nullptr, kNoTag, IsInternetConnectedMethod},
    {L"getDownloadTimeProp", kMethod, {}, kReturnsText, L"EMGetDownloadTimeProp", kTagOnEntry, GetDownloadTimePropMethod},
    {L"manageDesktopShortcut", kMethod, {kText, kBool}, kNothing, nullptr, kNoTag, ManageDesktopShortcutMethod},

    // Product names, registered after the framework's.
    {L"isNET46Installed", kMethodOrGet, {kText}, kReturnsBool, nullptr, kNoTag, IsNet46InstalledMethod},
    {L"isWindows7GM", kAnyCall, {}, kReturnsBool, nullptr, kNoTag, IsWindows7GmMethod},
    {L"isWindows8GM", kAnyCall, {}, kReturnsBool, nullptr, kNoTag, IsWindows8GmMethod},
    {L"isWindows10", kAnyCall, {}, kReturnsBool, nullptr, kNoTag, IsWindows10Method},
    {L"isWindows7", kAnyCall, {}, kReturnsBool, nullptr, kNoTag, IsWindows7Method},
    {L"isWindows8", kAnyCall, {}, kReturnsBool, nullptr, kNoTag, IsWindows8Method},
    {L"isGreaterThanWindows10", kAnyCall, {}, kReturnsBool, nullptr, kNoTag, IsGreaterThanWindows10Method},
    {L"isIE8", kAnyCall, {}, kReturnsBool, nullptr, kNoTag, IsIe8Method},
    {L"CheckMinSys", kAnyCall, {}, kReturnsText, L"EMCheckMinSys", kTagBeforeWork, CheckMinSysMethod},
    {L"isRequireReboot", kAnyCall, {}, kReturnsBool, nullptr, kNoTag, IsRequireRebootMethod},
    {L"removeRebootKey", kAnyCall, {}, kReturnsBool, nullptr, kNoTag, RemoveRebootKeyMethod},
    {L"isLowRes", kAnyCall, {}, kReturnsBool, nullptr, kNoTag, IsLowResMethod},
    {L"GetUrlOSVersion", kAnyCall, {}, kReturnsText, L"EMGetUrlOSVersion", kTagBeforeWork, GetUrlOsVersionMethod},
    {L"GetGAPostURL", kMethod, {kText}, kNothing, nullptr, kNoTag, GetGaPostUrlMethod},
};

}  // namespace

const MethodSignature& MethodRow(std::size_t row) { return kRows[row]; }

}  // namespace stubframework::externalmethods
