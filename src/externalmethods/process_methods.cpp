#include "externalmethods/process_methods.h"

#include <string>
#include <vector>

#include "base/log.h"
#include "base/registry.h"
#include "externalmethods/desktop_shortcut.h"
#include "externalmethods/external_methods.h"
#include "externalmethods/program_command.h"
#include "externalmethods/reg_apps.h"
#include "externalmethods/script_call.h"
#include "externalmethods/shell_launch.h"
#include "externalmethods/system_restart.h"
#include "htmlui/ui_host.h"

namespace stubframework::externalmethods {

namespace {

constexpr wchar_t kCommandPrefix[] = L"cmd.exe /c ";
constexpr wchar_t kResumeManagerSubkey[] = L"\\ResumeManager";

// Creates the process without waiting for it; the handles are closed at once.
bool CreateDetachedProcess(const wchar_t* application, const std::wstring& command_line, STARTUPINFOW& startup) {
  // CreateProcessW may write into its command line.
  std::vector<wchar_t> writable(command_line.begin(), command_line.end());
  writable.push_back(L'\0');
  PROCESS_INFORMATION process = {};
  if (!::CreateProcessW(application, writable.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process)) {
    return false;
  }
  ::CloseHandle(process.hThread);
  ::CloseHandle(process.hProcess);
  return true;
}

std::wstring SystemFolder() {
  wchar_t system[MAX_PATH] = {};
  UINT length = ::GetSystemDirectoryW(system, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return std::wstring();
  return std::wstring(system, length);
}

// The command interpreter of the system folder: a "cmd.exe" in this
// program's folder or the current folder is never the one started elevated.
std::wstring SystemCommandInterpreter() {
  const std::wstring system = SystemFolder();
  return system.empty() ? system : system + L"\\cmd.exe";
}

const wchar_t* Outcome(bool success) { return success ? L"success" : L"fail"; }

}  // namespace

HRESULT StartProgramMethod(ExternalMethods&, ScriptCall& call) {
  ShellLaunch(call.Text(0), call.Text(1));
  return S_OK;
}

HRESULT RunApplicationMethod(ExternalMethods& methods, ScriptCall& call) {
  // Any type is taken; anything but text reads as empty and starts nothing.
  const std::wstring command_line = call.Text(0);
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  ProgramCommand program;
  const bool created = DecideProgram(command_line, SystemFolder(), &program) &&
                       CreateDetachedProcess(program.application.c_str(), program.command_line, startup);
  base::LogDebug(methods.log(), L"EMRunApplication: %s, result: %s", command_line.c_str(), Outcome(created));
  call.ReturnBool(created);
  return S_OK;
}

HRESULT ExecuteCommandMethod(ExternalMethods& methods, ScriptCall& call) {
  const std::wstring command = call.Text(0);
  // Hidden, and without standard handles.
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES;
  startup.wShowWindow = SW_HIDE;
  const std::wstring interpreter = SystemCommandInterpreter();
  const bool created =
      !interpreter.empty() && CreateDetachedProcess(interpreter.c_str(), kCommandPrefix + command, startup);
  base::LogDebug(methods.log(), L"EMExecuteCommand: %s, result: %s", command.c_str(), Outcome(created));
  call.ReturnBool(created);
  return S_OK;
}

HRESULT StartRegAppsMethod(ExternalMethods& methods, ScriptCall&) {
  base::Log* log = methods.log();
  RunStore* store = methods.store();
  if (store == nullptr) return S_OK;
  const std::wstring record = store->base_reg_key() + kResumeManagerSubkey;
  std::wstring guid;
  std::wstring launch_on_exit;
  base::RegistryReadValue(record, L"guid", guid);
  base::RegistryReadValue(record, L"launchOnExit", launch_on_exit);

  const std::wstring record_key = RegAppsRecordKey(launch_on_exit);
  const std::wstring parent_key = RegAppsParentKey(record_key, guid);
  base::LogDebug(log, L"%s", parent_key.c_str());
  // The record is the user's to write: only the publisher's own machine key,
  // with the run's guid in it, is read or deleted.
  if (!IsOwnRegAppsKey(record_key, guid)) {
    base::LogDebug(log, L"EMStartRegApps: %s is not the run's key under the publisher's machine key; nothing started "
                        L"or deleted", record_key.c_str());
    return S_OK;
  }
  const std::vector<std::wstring> commands = ReadRegApps(record_key);
  // Dropped whether or not anything can start.
  DeleteRegAppsKey(parent_key, guid);
  for (const std::wstring& command : commands) StartRegApp(log, command);
  return S_OK;
}

HRESULT ManageDesktopShortcutMethod(ExternalMethods& methods, ScriptCall& call) {
  const std::wstring name = call.Text(0);
  if (name.empty()) return S_OK;
  LaunchFacts* launch = methods.launch();
  ManageDesktopShortcut(methods.log(), name, call.Bool(1), launch == nullptr ? std::wstring() : launch->stub_path());
  base::LogDebug(methods.log(), L"EMManageDesktopShortcut Result: %s", name.c_str());
  return S_OK;
}

HRESULT IsSilentLaunchStubMethod(ExternalMethods& methods, ScriptCall& call) {
  LaunchFacts* launch = methods.launch();
  const bool silent = launch != nullptr && launch->silent_launch();
  base::LogDebug(methods.log(), L"EMIsSilentLaunchStub Result: %s", silent ? L"launch silently" : L"launch normal");
  call.ReturnBool(silent);
  return S_OK;
}

HRESULT RestartSystemMethod(ExternalMethods& methods, ScriptCall& call) {
  const std::wstring message = call.Text(0);
  const std::wstring caption = call.Text(1);
  base::LogDebug(methods.log(), L"EMRestartSystem: %s %s", message.c_str(), caption.c_str());
  htmlui::UiHost* ui = methods.ui_host();
  if (ui == nullptr || ui->ShowMessageBox(message, caption, MB_OKCANCEL) != IDOK) return S_OK;
  RestartComputer(methods.machine());
  return S_OK;
}

HRESULT RestartSystemNoMsgMethod(ExternalMethods& methods, ScriptCall&) {
  base::LogDebug(methods.log(), L"EMRestartSystemNoMsg: %s", L"Restart from Restart.html");
  RestartComputer(methods.machine());
  return S_OK;
}

}  // namespace stubframework::externalmethods
