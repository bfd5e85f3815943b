#include "workflow/install_msi.h"

#include <windows.h>
#include <msi.h>

#include <cwchar>

#include "workflow/install_params.h"
#include "workflow/msi_progress.h"
#include "workflow/transfer_install_error.h"

namespace stubframework::workflow {

namespace {

// Every message class from fatal exit to initialize, except extra debug.
constexpr DWORD kMsiLogMode = 0x1FDF;
constexpr DWORD kMsiLogAppend = INSTALLLOGATTRIBUTES_APPEND;
constexpr wchar_t kLogSwitch[] = L"/l";
// A progress text is a handful of short fields; nothing longer is read.
constexpr size_t kMaxProgressText = 256;

using SetInternalUiFn = INSTALLUILEVEL(WINAPI*)(INSTALLUILEVEL, HWND*);
using SetExternalUiFn = INSTALLUI_HANDLERW(WINAPI*)(INSTALLUI_HANDLERW, DWORD, LPVOID);
using EnableLogFn = UINT(WINAPI*)(DWORD, LPCWSTR, DWORD);
using InstallProductFn = UINT(WINAPI*)(LPCWSTR, LPCWSTR);

template <typename Fn>
Fn Lookup(HMODULE module, const char* name) {
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
}

// msi.dll, loaded from the system folder by full path so that no copy beside
// the stub (its download folder) is ever picked up. It is never unloaded: the
// Windows Installer may keep threads of its own after an install returns.
class MsiLibrary {
 public:
  MsiLibrary() {
    wchar_t system[MAX_PATH] = {};
    UINT length = ::GetSystemDirectoryW(system, MAX_PATH);
    if (length == 0 || length >= MAX_PATH - 9) return;
    std::wstring path = std::wstring(system, length) + L"\\msi.dll";
    HMODULE module = ::LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (module == nullptr) return;
    set_internal_ui = Lookup<SetInternalUiFn>(module, "MsiSetInternalUI");
    set_external_ui = Lookup<SetExternalUiFn>(module, "MsiSetExternalUIW");
    enable_log = Lookup<EnableLogFn>(module, "MsiEnableLogW");
    install_product = Lookup<InstallProductFn>(module, "MsiInstallProductW");
  }
  MsiLibrary(const MsiLibrary&) = delete;
  MsiLibrary& operator=(const MsiLibrary&) = delete;

  bool loaded() const {
    return set_internal_ui != nullptr && set_external_ui != nullptr && enable_log != nullptr &&
           install_product != nullptr;
  }

  SetInternalUiFn set_internal_ui = nullptr;
  SetExternalUiFn set_external_ui = nullptr;
  EnableLogFn enable_log = nullptr;
  InstallProductFn install_product = nullptr;
};

// What the external UI handler moves; lives for one install.
struct ProgressSink {
  base::LockedProperties* properties;
  MsiProgressState state;
  HANDLE stop;  // the run's stop event; may be null
};

// Called by the Windows Installer on the installing thread.
INT CALLBACK OnInstallerMessage(LPVOID context, UINT type, LPCWSTR message) {
  auto* sink = static_cast<ProgressSink*>(context);
  // The install runs inside this process, which ends with the run: the
  // Windows Installer is asked to roll it back rather than be cut off midway.
  if (sink->stop != nullptr && ::WaitForSingleObject(sink->stop, 0) == WAIT_OBJECT_0) return IDCANCEL;
  if ((type & 0xFF000000u) != INSTALLMESSAGE_PROGRESS || message == nullptr || message[0] == L'\0') return 0;
  MsiProgressFields fields = ParseMsiProgress(std::wstring(message, wcsnlen(message, kMaxProgressText)));
  base::LockedProperties& properties = *sink->properties;
  // The page may have moved the counters: start from what they hold now.
  sink->state.total = properties.GetInstallTotal();
  sink->state.current = properties.GetInstallCurrent();
  MsiProgressState next = ApplyMsiProgress(sink->state, fields);
  if (next.total != sink->state.total) properties.SetInstallTotal(static_cast<unsigned long>(next.total));
  if (next.current != sink->state.current) properties.SetInstallCurrent(static_cast<unsigned long>(next.current));
  sink->state = next;
  return 0;
}

}  // namespace

int InstallMsi(const InstallerRun& run, const std::wstring& install_file, std::wstring params,
               const std::wstring& log_path) {
  base::LockedProperties& properties = *run.properties;
  properties.SetInstallCurrent(0);
  properties.SetInstallTotal(1);
  ProgressSink sink{run.properties, MsiProgressState(), run.stop_event()};

  MsiLibrary msi;
  UINT raw = ERROR_INSTALL_SERVICE_FAILURE;
  if (msi.loaded()) {
    MsiUiChoice ui = ChooseMsiUi(params);
    if (ui.removed_switch != nullptr) RemoveSwitch(params, ui.removed_switch);
    INSTALLUILEVEL previous_level = msi.set_internal_ui(ui.level, nullptr);
    INSTALLUI_HANDLERW previous_handler = msi.set_external_ui(OnInstallerMessage, ui.message_filter, &sink);
    msi.enable_log(kMsiLogMode, log_path.c_str(), kMsiLogAppend);
    RemoveSwitch(params, kLogSwitch);
    RemoveSwitch(params, kLogFilePlaceholder);
    DropUnpairedQuote(params);

    base::LogDebug(run.log, L"InstallMsi %s, parameter: %s", install_file.c_str(), params.c_str());
    raw = msi.install_product(install_file.c_str(), params.c_str());

    msi.set_internal_ui(previous_level, nullptr);
    msi.set_external_ui(previous_handler, 0, nullptr);
  } else {
    base::LogDebug(run.log, L"InstallMsi %s, msi.dll could not be loaded", install_file.c_str());
  }
  int code = TransferInstallError(run.log, raw);
  base::LogDebug(run.log, L"InstallMsi %s, return %d", install_file.c_str(), raw);
  run.StoreLastInstallError(raw);
  properties.SetInstallCurrent(static_cast<unsigned long>(properties.GetInstallTotal()));
  return code;
}

}  // namespace stubframework::workflow
