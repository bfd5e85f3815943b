#include "app/launch.h"

#include <delayimp.h>

#include <vector>

#include "app/finishing_word.h"
#include "app/install_context.h"
#include "app/product.h"
#include "app/settings_store.h"
#include "base/secured_folder.h"
#include "base/temp_folder.h"
#include "base/unique_handle.h"
#include "base/wide_format.h"
#include "trust/release_key.h"
#include "workflow/self_update.h"

namespace stubframework::app {

namespace {

std::wstring ExecutablePath() {
  wchar_t path[MAX_PATH] = {};
  DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  return length > 0 && length < MAX_PATH ? std::wstring(path, length) : std::wstring();
}

std::wstring FileNameOf(const std::wstring& path) {
  size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

bool PathExists(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

void LoadSystemLpk() {
  wchar_t system[MAX_PATH] = {};
  UINT length = ::GetSystemDirectoryW(system, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return;
  std::wstring lpk = std::wstring(system, length) + L"\\lpk.dll";
  ::LoadLibraryExW(lpk.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

// The last run of a self-update: the newer stub replaces the file the user
// started, once the process that started it has ended, and only when that
// launcher handed over its word for exactly this copy.
[[noreturn]] void FinishSelfUpdate(const ArgumentVector& args, const std::wstring& exit_code,
                                   const std::wstring& parent_id) {
  const DWORD code = wcstoul(exit_code.c_str(), nullptr, 10);
  const DWORD parent_pid = wcstoul(parent_id.c_str(), nullptr, 10);
  std::wstring self = ExecutablePath();
  std::wstring target;
  FinishingWord word;
  if (!GetShortcutPath(args, target) || !ReadOwnFinishingWord(&word) || !WordMatches(word, code, parent_pid, target)) {
    ::OutputDebugStringW(L"Finishing run without the launcher's word for this copy: nothing replaced.");
    ::ExitProcess(code);
  }
  if (PathExists(self) && PathExists(target)) {
    base::UniqueHandle parent(::OpenProcess(SYNCHRONIZE, FALSE, parent_pid));
    if (parent) ::WaitForSingleObject(parent.Get(), INFINITE);
    // Overwrite in one step rather than delete first: when the copy fails the
    // user keeps a working stub instead of none.
    ::CopyFileW(self.c_str(), target.c_str(), FALSE);
  }
  ::ExitProcess(code);
}

// Runs the newer stub that the working copy stored in `folder`.
void HandOverToNewerStub(const std::wstring& folder, const std::wstring& tail, const std::wstring& exe_path,
                         const std::wstring& product, const std::wstring& major_version) {
  std::wstring name;
  std::wstring key = MakeSettingsKey(InstallContext::kSettingsBaseDefault(), product, major_version);
  if (!ReadSetting(key, kUpdateStubNameSetting, name) || !IsPlainFileName(name) || !PathExists(folder + name)) return;
  // The name comes from HKCU and the folder is the user's: with a release key
  // the file is checked again here and held unchanged while it runs.
  base::UniqueHandle held;
  const trust::ReleaseKey release_key = trust::ProductReleaseKey();
  if (release_key.present() && !workflow::HoldNewerStub(release_key, folder + name, exe_path, &held, nullptr)) return;
  std::wstring command_line = NewerStubCommandLine(tail, exe_path);
  DWORD code = RunProcess({folder, name, command_line}, true);
  const DWORD self_id = ::GetCurrentProcessId();
  StartWithFinishingWord(folder + name, folder, FinishingCommandLine(command_line, code, self_id),
                         {code, self_id, exe_path});
}

}  // namespace

DWORD RunProcess(const LaunchSpec& launch, bool wait) {
  std::wstring application = launch.folder + launch.file;
  std::vector<wchar_t> command_line(launch.command_line.begin(), launch.command_line.end());
  command_line.push_back(L'\0');
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info = {};
  if (!::CreateProcessW(application.c_str(), command_line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        launch.folder.c_str(), &startup, &info)) {
    return 0;
  }
  base::UniqueHandle process(info.hProcess);
  base::UniqueHandle thread(info.hThread);
  if (wait) ::WaitForSingleObject(process.Get(), INFINITE);
  DWORD code = 0;
  ::GetExitCodeProcess(process.Get(), &code);
  return code;
}

FARPROC WINAPI LoadDelayedDllFromSystemFolder(unsigned notification, DelayLoadInfo* info) {
  if (notification != dliNotePreLoadLibrary || info == nullptr || info->szDll == nullptr) return nullptr;
  wchar_t system[MAX_PATH] = {};
  UINT length = ::GetSystemDirectoryW(system, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return nullptr;
  // The names come from this image's own delay-import table: plain ASCII.
  std::wstring path = std::wstring(system, length) + L"\\";
  for (const char* c = info->szDll; *c != '\0'; ++c)
    path.push_back(static_cast<wchar_t>(static_cast<unsigned char>(*c)));
  return reinterpret_cast<FARPROC>(::LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
}

void HardenDllSearch() {
  // Looked up at run time: older systems without the update lack it.
  using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
  HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
  auto set_default = reinterpret_cast<SetDefaultDllDirectoriesFn>(
      reinterpret_cast<void*>(::GetProcAddress(kernel, "SetDefaultDllDirectories")));
  if (set_default != nullptr) set_default(0x00000800 /* LOAD_LIBRARY_SEARCH_SYSTEM32 */);
}

std::wstring WorkingCopyCommandLine(const std::wstring& tail, const std::wstring& exe_path) {
  return tail + L" run=1 shortcut=\"" + exe_path + L"\"";
}

std::wstring NewerStubCommandLine(const std::wstring& tail, const std::wstring& exe_path) {
  return tail + L" run=1 update=0 shortcut=\"" + exe_path + L"\"";
}

std::wstring FinishingCommandLine(const std::wstring& newer_stub_command_line, DWORD exit_code, DWORD parent_id) {
  return newer_stub_command_line + base::Format(L" newVersionExitCode=%lu parentProcessID=%lu", exit_code, parent_id);
}

bool IsPlainFileName(const std::wstring& name) {
  return !name.empty() && name.find_first_of(L"\\/:") == std::wstring::npos && name != L"." && name != L"..";
}

LaunchOutcome RunLaunchCheck(const std::wstring& product, const std::wstring& major_version) {
  LoadSystemLpk();
  std::wstring self = ExecutablePath();
  if (PathExists(self + L".local")) ::ExitProcess(1);

  ArgumentVector args = ProcessArguments();
  std::wstring exit_code = GetNamedArgument(args, L"newVersionExitCode");
  std::wstring parent_id = GetNamedArgument(args, L"parentProcessID");
  if (!exit_code.empty() && !parent_id.empty()) FinishSelfUpdate(args, exit_code, parent_id);

  if (IsWorkingCopy(args)) return LaunchOutcome::kContinue;

  // The working copy runs elevated: it lives in a folder only administrators
  // can write, held for the whole run, and checked again before each start.
  base::RunFolder run_folder;
  std::wstring temp = base::TemporaryPath();
  if (temp.empty() || !run_folder.Create(temp)) return LaunchOutcome::kFirstProcessDone;
  const std::wstring& folder = run_folder.path();
  std::wstring name = FileNameOf(self);
  if (::CopyFileW(self.c_str(), (folder + name).c_str(), TRUE) && run_folder.Verify()) {
    std::wstring tail = CommandLineTail(::GetCommandLineW());
    DWORD code = RunProcess({folder, name, WorkingCopyCommandLine(tail, self)}, true);
    if (code == static_cast<DWORD>(kSelfUpdateExitCode) && run_folder.Verify()) {
      HandOverToNewerStub(folder, tail, self, product, major_version);
    }
  }
  run_folder.Remove();
  return LaunchOutcome::kFirstProcessDone;
}

}  // namespace stubframework::app

// The delay-load helper reads its hook from here (this definition takes the
// place of the runtime's empty one).
extern "C" {
PfnDliHook __pfnDliNotifyHook2 = stubframework::app::LoadDelayedDllFromSystemFolder;
}
