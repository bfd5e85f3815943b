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

namespace stubframework::externalmethods {

namespace {

constexpr VARTYPE T = VT_BSTR;
constexpr VARTYPE I = VT_I4;
constexpr VARTYPE B = VT_BOOL;
constexpr VARTYPE F = VT_DISPATCH;  // a page function called back later

constexpr CallKind M = CallKind::kMethod;
constexpr CallKind G = CallKind::kMethodGet;
constexpr CallKind U = CallKind::kUnchecked;

constexpr ResultKind None = ResultKind::kNone;
constexpr ResultKind Text = ResultKind::kText;
constexpr ResultKind Bool = ResultKind::kBool;
constexpr ResultKind Int = ResultKind::kInt;
constexpr ResultKind UInt = ResultKind::kUnsignedInt;

constexpr TagAt NoTag = TagAt::kNone;
constexpr TagAt First = TagAt::kBeforeChecks;
constexpr TagAt Checked = TagAt::kBeforeResultSlot;
constexpr TagAt Work = TagAt::kBeforeWork;

// name, call, arity, arguments, result, tag, tag placement, owner, body[, type check, runs without result]
constexpr MethodSignature kRows[kMethodCount] = {
    // Framework names, in registration order.
    {L"download", M, 6, {T, T, T, B, B, F}, None, L"EMDownload", First, Owner::kBuilt, DownloadMethod, true,
     false},
    {L"isDestReadOnly", G, 1, {T}, Bool, L"EMisDestReadOnly", Work, Owner::kQueryAndFile, nullptr, true, false},
    {L"stopDownload", M, 0, {}, None, L"EMStopDownload", First, Owner::kBuilt, StopDownloadMethod, true,
     false},
    {L"install", M, 5, {T, T, T, I, F}, None, L"EMInstall", First, Owner::kBuilt, InstallMethod, true, false},
    {L"closeWindow", M, 0, {}, None, L"ZSClose", Work, Owner::kBuilt, CloseWindowMethod, true, false},
    // The three window toggles log after acting: their bodies write the line.
    {L"minimizeWindow", M, 0, {}, None, nullptr, NoTag, Owner::kWindowAndDialog, nullptr, true, false},
    {L"dragWindow", M, 0, {}, None, L"ZSDragWindow", Work, Owner::kWindowAndDialog, nullptr, true, false},
    {L"hideWindow", M, 0, {}, None, nullptr, NoTag, Owner::kWindowAndDialog, nullptr, true, false},
    {L"showWindow", M, 0, {}, None, nullptr, NoTag, Owner::kWindowAndDialog, nullptr, true, false},
    {L"terminateWindow", M, 0, {}, None, nullptr, NoTag, Owner::kWindowAndDialog, nullptr, true, false},
    {L"selectFolder", G, 1, {T}, Text, L"EMSelectFolder", Work, Owner::kWindowAndDialog, nullptr, true, false},
    {L"startProgram", M, 2, {T, T}, None, nullptr, NoTag, Owner::kProcessAndRestart, nullptr, true, false},
    {L"messageBox", M, 2, {T, T}, None, nullptr, NoTag, Owner::kWindowAndDialog, nullptr, true, false},
    {L"messageBoxExit", M, 2, {T, T}, None, nullptr, NoTag, Owner::kBuilt, MessageBoxExitMethod, true, false},
    {L"messageBoxCancel", M, 2, {T, T}, None, nullptr, NoTag, Owner::kWindowAndDialog, nullptr, true, false},
    {L"messageBoxError", M, 2, {T, T}, None, nullptr, NoTag, Owner::kWindowAndDialog, nullptr, true, false},
    {L"restartSystem", M, 2, {T, T}, None, nullptr, NoTag, Owner::kProcessAndRestart, nullptr, true, false},
    {L"restartSystemNoMsg", M, 0, {}, None, nullptr, NoTag, Owner::kProcessAndRestart, nullptr, true, false},
    {L"deleteRegKey", M, 2, {T, B}, None, L"EMDeleteRegKey", Work, Owner::kBuilt, DeleteRegKeyMethod, true, false},
    {L"runAfterReboot", M, 1, {T}, None, L"EMRunAfterReboot", First, Owner::kBuilt, RunAfterRebootMethod, true,
     false},
    {L"undoRunAfterReboot", M, 0, {}, None, L"EMUndoRunAfterReboot", First, Owner::kBuilt, UndoRunAfterRebootMethod,
     true, false},
    {L"setWindowSize", M, 2, {I, I}, None, nullptr, NoTag, Owner::kBuilt, SetWindowSizeMethod, true, false},
    {L"setProperty", M, 2, {T, T}, None, L"EMSetProperty", First, Owner::kBuilt, SetPropertyMethod, true, false},
    {L"setLang", M, 1, {I}, None, nullptr, NoTag, Owner::kQueryAndFile, nullptr, true, false},
    {L"setInstallStatus", M, 1, {I}, None, nullptr, NoTag, Owner::kQueryAndFile, nullptr, true, false},
    {L"setChannel", M, 1, {T}, None, nullptr, NoTag, Owner::kQueryAndFile, nullptr, true, false},
    {L"setDataToReg", M, 4, {T, T, T, B}, None, L"EMSetDataToReg", Work, Owner::kBuilt, SetDataToRegMethod, true, false},
    {L"isFileExists", G, 1, {T}, Bool, nullptr, NoTag, Owner::kQueryAndFile, nullptr, true, false},
    {L"isSkipSelfUpdate", M, 0, {}, Bool, nullptr, NoTag, Owner::kBuilt, IsSkipSelfUpdateMethod, true, false},
    {L"isNeedSelfUpdate", G, 1, {T}, Bool, nullptr, NoTag, Owner::kBuilt, IsNeedSelfUpdateMethod, true, false},
    {L"isSilentLaunchStub", M, 0, {}, Bool, nullptr, NoTag, Owner::kProcessAndRestart, nullptr, true, false},
    {L"selfUpdate", M, 2, {T, F}, None, nullptr, NoTag, Owner::kBuilt, SelfUpdateMethod, true, false},
    {L"createDirectory", G, 1, {T}, Bool, nullptr, NoTag, Owner::kQueryAndFile, nullptr, true, false},
    {L"initDownloadSize", M, 3, {T, T, B}, None, L"EMInitDownloadSize", First, Owner::kBuilt,
     InitDownloadSizeMethod, true, false},
    {L"trackUserActivity", M, 1, {T}, None, L"EMTrackUserActivity", Work, Owner::kBuilt, TrackUserActivityMethod, true,
     false},
    {L"openPage", G, 1, {T}, Bool, L"EMOpenPage", Work, Owner::kWindowAndDialog, nullptr, true, false},
    // Reads its argument as text without checking its type.
    {L"runApplication", G, 1, {T}, Bool, L"EMRunApplication", Checked, Owner::kProcessAndRestart, nullptr, false,
     false},
    {L"executeCommand", G, 1, {T}, Bool, L"EMExecuteCommand", Checked, Owner::kProcessAndRestart, nullptr, true,
     false},
    {L"updateInstallerList", M, 5, {T, T, B, B, F}, None, L"EMUpdateInstallerList", Work, Owner::kBuilt,
     UpdateInstallerListMethod, true, false},
    {L"startRegApps", M, 0, {}, None, L"EMStartRegApps", Work, Owner::kProcessAndRestart, nullptr, true, false},
    {L"searchRegKey", G, 4, {B, T, T, T}, Bool, L"EMSearchRegKey", First, Owner::kBuilt, SearchRegKeyMethod, true, false},
    {L"getProperty", G, 1, {T}, Text, nullptr, NoTag, Owner::kBuilt, GetPropertyMethod, true, false},
    {L"getDiskAvailableSpace", G, 1, {T}, Text, L"EMGetDiskAvailableSpace", Work, Owner::kQueryAndFile, nullptr, true,
     false},
    {L"getOSLang", M, 0, {}, Int, nullptr, NoTag, Owner::kQueryAndFile, nullptr, true, false},
    {L"getLanguageByID", G, 1, {I}, Int, nullptr, NoTag, Owner::kQueryAndFile, nullptr, true, false},
    {L"getParsedInstallLanguage", G, 1, {T}, Int, nullptr, NoTag, Owner::kQueryAndFile, nullptr, true, false},
    {L"getFileVersion", G, 2, {T, T}, Text, L"EMGetMSIFileVersion", Work, Owner::kQueryAndFile, nullptr, true, false},
    {L"getDataFromReg", G, 2, {T, T}, Text, L"EMGetDataFromReg", Work, Owner::kBuilt, GetDataFromRegMethod, true, false},
    {L"getCrc", G, 1, {T}, Text, L"EMGetCRC", Work, Owner::kQueryAndFile, nullptr, true, false},
    {L"getOSVersion", M, 0, {}, Text, nullptr, NoTag, Owner::kQueryAndFile, nullptr, true, false},
    {L"getResumeMode", M, 0, {}, Int, nullptr, NoTag, Owner::kBuilt, GetResumeModeMethod, true, false},
    {L"getResourceLocation", M, 0, {}, Text, nullptr, NoTag, Owner::kBuilt, GetResourceLocationMethod, true, false},
    {L"getCurrentPath", M, 0, {}, Text, L"EMGetCurrentPath", Work, Owner::kQueryAndFile, nullptr, true, false},
    {L"getDesktopPath", M, 0, {}, Text, L"EMGetDesktopPath", Work, Owner::kQueryAndFile, nullptr, true, false},
    {L"getTempPath", G, 1, {T}, Text, L"EMGetTempPath", Work, Owner::kQueryAndFile, nullptr, true, false},
    {L"getBaseRegKey", M, 0, {}, Text, L"EMGetBaseRegKey", Work, Owner::kBuilt, GetBaseRegKeyMethod, true, false},
    {L"getFileSize", G, 1, {T}, Text, L"EMGetFileSize", Work, Owner::kQueryAndFile, nullptr, true, false},
    {L"getLastInstallError", M, 0, {}, UInt, L"EMGetLastInstallError", First, Owner::kBuilt,
     GetLastInstallErrorMethod, true, false},
    {L"checkOS", G, 2, {T, T}, Bool, L"EMCheckOS", Work, Owner::kQueryAndFile, nullptr, true, false},
    {L"getMachineId", M, 0, {}, Text, L"EMGetMachineId", Work, Owner::kQueryAndFile, nullptr, true, false},
    {L"setUninstallRegistryFromStub", M, 2, {T, B}, None, L"SetUninstallRegistryFromStub", First, Owner::kBuilt,
     SetUninstallRegistryFromStubMethod, true, false},
    {L"isUninstallModeLaunch", M, 0, {}, Bool, L"EMIsUninstallModeLaunch", First, Owner::kBuilt,
     IsUninstallModeLaunchMethod, true, false},
    // Shows its box even when nobody takes the answer.
    {L"confirmMessageBox", G, 2, {T, T}, Bool, L"EMConfirmMessageBox", Work, Owner::kWindowAndDialog, nullptr, true,
     true},
    {L"removeProgram", M, 4, {T, B, T, F}, None, L"EMRemoveProgram", First, Owner::kBuilt, RemoveProgramMethod, true,
     false},
    {L"repairProgram", M, 3, {T, T, F}, None, L"ZSRepairProgram", First, Owner::kBuilt, RepairProgramMethod, true,
     false},
    {L"verifyFileInSpecialDirectory", M, 3, {T, T, F}, None, L"EMVerifyFileInSpecialDirectory", First,
     Owner::kBuilt, VerifyFileInSpecialDirectoryMethod, true, false},
    {L"cancelVerifyThread", M, 0, {}, None, nullptr, NoTag, Owner::kBuilt, CancelVerifyThreadMethod, true, false},
    {L"isInEmbargoedCountry", M, 0, {}, Bool, nullptr, NoTag, Owner::kBuilt, IsInEmbargoedCountryMethod, true,
     false},
    {L"isInternetConnected", M, 0, {}, Bool, nullptr, NoTag, Owner::kQueryAndFile, nullptr, true, false},
    {L"getDownloadTimeProp", M, 0, {}, Text, L"EMGetDownloadTimeProp", First, Owner::kBuilt,
     GetDownloadTimePropMethod, true, false},
    {L"manageDesktopShortcut", M, 2, {T, B}, None, nullptr, NoTag, Owner::kProcessAndRestart, nullptr, true, false},

    // Product names, registered after the framework's.
    {L"isNET46Installed", G, 1, {T}, Bool, nullptr, NoTag, Owner::kProductChecks, nullptr, true, false},
    {L"isWindows7GM", U, 0, {}, Bool, nullptr, NoTag, Owner::kProductChecks, nullptr, true, false},
    {L"isWindows8GM", U, 0, {}, Bool, nullptr, NoTag, Owner::kProductChecks, nullptr, true, false},
    {L"isWindows10", U, 0, {}, Bool, nullptr, NoTag, Owner::kProductChecks, nullptr, true, false},
    {L"isWindows7", U, 0, {}, Bool, nullptr, NoTag, Owner::kProductChecks, nullptr, true, false},
    {L"isWindows8", U, 0, {}, Bool, nullptr, NoTag, Owner::kProductChecks, nullptr, true, false},
    {L"isGreaterThanWindows10", U, 0, {}, Bool, nullptr, NoTag, Owner::kProductChecks, nullptr, true, false},
    {L"isIE8", U, 0, {}, Bool, nullptr, NoTag, Owner::kProductChecks, nullptr, true, false},
    {L"CheckMinSys", U, 0, {}, Text, L"EMCheckMinSys", Work, Owner::kProductChecks, nullptr, true, false},
    {L"isRequireReboot", U, 0, {}, Bool, nullptr, NoTag, Owner::kProductChecks, nullptr, true, false},
    {L"removeRebootKey", U, 0, {}, Bool, nullptr, NoTag, Owner::kProductChecks, nullptr, true, false},
    {L"isLowRes", U, 0, {}, Bool, nullptr, NoTag, Owner::kProductChecks, nullptr, true, false},
    {L"GetUrlOSVersion", U, 0, {}, Text, L"EMGetUrlOSVersion", Work, Owner::kProductChecks, nullptr, true, false},
    {L"GetGAPostURL", M, 1, {T}, None, nullptr, NoTag, Owner::kProductChecks, nullptr, true, false},
};

}  // namespace

const MethodSignature& MethodRow(std::size_t row) { return kRows[row]; }

}  // namespace stubframework::externalmethods
