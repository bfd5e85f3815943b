// The methods that start programs, manage the desktop shortcut and restart
// the computer, with real child processes. The restart request itself goes to
// the test host, which records it.
#include <gtest/gtest.h>
#include <objbase.h>
#include <shlobj.h>
#include <wrl/client.h>

#include <thread>

#include "base/registry.h"
#include "externalmethods/desktop_shortcut.h"
#include "externalmethods/method_test_support.h"
#include "externalmethods/path_methods.h"
#include "externalmethods/reg_apps.h"
#include "externalmethods/shell_launch.h"

namespace stubframework::externalmethods {

using namespace testsupport;
namespace {

using testsupport::ScriptArgs;

class ProcessMethodsTest : public MethodFixture {
 protected:
  void SetUp() override {
    MethodFixture::SetUp();
    if (HasFatalFailure()) return;
    probe_ = std::make_unique<Probe>(work_);
  }
  std::unique_ptr<Probe> probe_;
};

TEST_F(ProcessMethodsTest, ExecuteCommandAnswersWhetherTheInterpreterStartedNotHowTheCommandEnded) {
  const std::wstring marker = work_ + L"ran.txt";
  const std::wstring command = L"echo ran> " + marker + L" & exit 1";
  EXPECT_TRUE(Bool(L"executeCommand", std::move(ScriptArgs().Text(command.c_str()))));
  EXPECT_TRUE(WaitFor([&] { return Exists(marker); })) << "the command ran";
  EXPECT_TRUE(LogHasLine("EMExecuteCommand: " + base::ToAnsi(command) + ", result: success"));
}

TEST_F(ProcessMethodsTest, RunApplicationStartsOnlyWhenTheCallerTakesTheResult) {
  const std::wstring command = L"\"" + probe_->path() + L"\" first \"second arg\"";
  EXPECT_EQ(Call(L"runApplication", 3, ScriptArgs().Text(command.c_str())), S_OK);
  EXPECT_TRUE(probe_->Starts(1, 1500).empty()) << "no result slot: nothing started";

  EXPECT_TRUE(Bool(L"runApplication", std::move(ScriptArgs().Text(command.c_str()))));
  std::vector<std::wstring> starts = probe_->Starts();
  ASSERT_EQ(starts.size(), 1u);
  EXPECT_EQ(SplitArgs(starts[0]), (std::vector<std::wstring>{probe_->path(), L"first", L"second arg"}));
  EXPECT_TRUE(LogHasLine("EMRunApplication: " + base::ToAnsi(command) + ", result: success"));

  EXPECT_FALSE(Bool(L"runApplication", std::move(ScriptArgs().Text((work_ + L"missing.exe").c_str()))));
  // The argument's type is not checked: a number reads as no command at all.
  EXPECT_FALSE(Bool(L"runApplication", std::move(ScriptArgs().Int(5))));
  EXPECT_TRUE(LogHasLine("EMRunApplication: , result: fail"));
}

// Wine's desktop shell offers its automation objects: the program is started
// by the shell, with its parameters.
TEST_F(ProcessMethodsTest, StartProgramAndOpenPageHandTheFileToTheDesktopShell) {
  ASSERT_EQ(Call(L"startProgram", DISPATCH_METHOD,
                 ScriptArgs().Text(probe_->path().c_str()).Text(L"/from startProgram")),
            S_OK);
  std::vector<std::wstring> starts = probe_->Starts(1);
  ASSERT_EQ(starts.size(), 1u);
  EXPECT_EQ(SplitArgs(starts[0]), (std::vector<std::wstring>{probe_->path(), L"/from", L"startProgram"}));

  EXPECT_TRUE(Bool(L"openPage", std::move(ScriptArgs().Text(probe_->path().c_str()))));
  EXPECT_EQ(probe_->Starts(2).size(), 2u);
  EXPECT_TRUE(LogHasLine("ZSOpenPage: " + base::ToAnsi(probe_->path()) + ", result: success"));
}

// A thread without COM cannot reach the desktop shell: this process starts
// the file itself, and a file it cannot start is the shell's failure code.
TEST_F(ProcessMethodsTest, WithoutTheDesktopShellTheLaunchStartsTheFileItself) {
  HRESULT started = E_FAIL;
  HRESULT missing = S_OK;
  std::thread([&] {
    started = externalmethods::ShellLaunch(probe_->path(), L"fallback");
    missing = externalmethods::ShellLaunch(work_ + L"missing.exe", L"");
  }).join();
  EXPECT_EQ(started, S_OK);
  std::vector<std::wstring> starts = probe_->Starts(1);
  ASSERT_EQ(starts.size(), 1u);
  EXPECT_EQ(SplitArgs(starts[0]).back(), L"fallback");
  EXPECT_EQ(missing, CO_E_NOTINITIALIZED);
}

class DesktopShortcutTest : public MethodFixture {
 protected:
  void SetUp() override {
    MethodFixture::SetUp();
    if (HasFatalFailure()) return;
    desktop_ = externalmethods::DesktopFolder();
    ASSERT_FALSE(desktop_.empty());
    ::CreateDirectoryW(desktop_.c_str(), nullptr);
    link_ = desktop_ + L"\\Continue Tessary Setup.lnk";
    ::DeleteFileW(link_.c_str());
  }
  void TearDown() override {
    ::DeleteFileW(link_.c_str());
    MethodFixture::TearDown();
  }
  HRESULT Manage(const wchar_t* name, bool create) {
    return Call(L"manageDesktopShortcut", DISPATCH_METHOD, ScriptArgs().Text(name).Bool(create));
  }
  std::wstring desktop_;
  std::wstring link_;
};

TEST_F(DesktopShortcutTest, CreatesALinkToTheStartedStubOnlyWhenThereIsOne) {
  host_->stub = L"";
  ASSERT_EQ(Manage(L"Continue Tessary Setup.lnk", true), S_OK);
  EXPECT_FALSE(Exists(link_)) << "no shortcut= argument: nothing to link to";

  host_->stub = L"C:\\Users\\me\\Downloads\\TessarySetup.exe";
  ASSERT_EQ(Manage(L"Continue Tessary Setup.lnk", true), S_OK);
  ASSERT_TRUE(Exists(link_));
  EXPECT_TRUE(LogHasLine("EMManageDesktopShortcut Result: Continue Tessary Setup.lnk"));
  Microsoft::WRL::ComPtr<IShellLinkW> link;
  ASSERT_EQ(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                               reinterpret_cast<void**>(link.GetAddressOf())),
            S_OK);
  Microsoft::WRL::ComPtr<IPersistFile> file;
  ASSERT_EQ(link.As(&file), S_OK);
  ASSERT_EQ(file->Load(link_.c_str(), STGM_READ), S_OK);
  wchar_t target[MAX_PATH] = {};
  wchar_t folder[MAX_PATH] = {};
  ASSERT_EQ(link->GetPath(target, MAX_PATH, nullptr, SLGP_RAWPATH), S_OK);
  ASSERT_EQ(link->GetWorkingDirectory(folder, MAX_PATH), S_OK);
  EXPECT_STREQ(target, L"C:\\Users\\me\\Downloads\\TessarySetup.exe");
  EXPECT_STREQ(folder, L"C:\\Users\\me\\Downloads");

  ASSERT_EQ(Manage(L"Continue Tessary Setup.lnk", false), S_OK);
  EXPECT_FALSE(Exists(link_));
}

TEST_F(DesktopShortcutTest, AnEmptyNameDoesNothingAndANameWithAPathDeletesNothingElsewhere) {
  host_->stub = L"C:\\Users\\me\\Downloads\\TessarySetup.exe";
  ASSERT_EQ(Manage(L"", true), S_OK);
  ASSERT_EQ(Manage(L"", false), S_OK);
  EXPECT_FALSE(LogHasLine("EMManageDesktopShortcut Result: "));

  // The page names a file on the desktop, never a path out of it.
  const std::wstring outside = work_ + L"keep.lnk";
  ASSERT_TRUE(WriteFileBytes(outside, "not a shortcut of ours"));
  std::wstring up;  // from the desktop folder back to the drive's root
  for (wchar_t c : desktop_) {
    if (c == L'\\') up += L"..\\";
  }
  for (const std::wstring& name : {outside, up + outside.substr(3)}) {
    ASSERT_EQ(Manage(name.c_str(), false), S_OK);
    EXPECT_TRUE(Exists(outside)) << base::ToAnsi(name);
  }
}

// The resume-manager record under the base key leads to a key of
// HKEY_LOCAL_MACHINE (32-bit view) whose "regApp" values are started.
class StartRegAppsTest : public ProcessMethodsTest {
 protected:
  static constexpr wchar_t kGuid[] = L"0f8fad5b-d9cb-469f-a165-70867728950e";
  // Below the publisher's own machine key, where the installed product registers.
  static constexpr wchar_t kVendor[] = L"SOFTWARE\\Brelvo\\RegAppsTest";

  void SetUp() override {
    ProcessMethodsTest::SetUp();
    if (HasFatalFailure()) return;
    Clean();
    record_ = app_->base_reg_key() + L"\\ResumeManager";
  }
  void TearDown() override {
    Clean();
    ProcessMethodsTest::TearDown();
  }
  void Clean() {
    HKEY software;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE", 0, KEY_ALL_ACCESS | KEY_WOW64_32KEY, &software) ==
        ERROR_SUCCESS) {
      ::RegDeleteTreeW(software, L"Brelvo\\RegAppsTest");
      ::RegDeleteTreeW(software, L"OtherVendor");
      ::RegDeleteTreeW(software, L"BrelvoX");
      ::RegDeleteTreeW(software, kGuid);
      ::RegCloseKey(software);
    }
    if (app_) base::RegistryDeleteKey(app_->base_reg_key() + L"\\ResumeManager", false);
  }
  void Record(const std::wstring& guid, const wchar_t* launch_on_exit) {
    base::RegistryWriteValue(record_, L"guid", guid, false);
    if (launch_on_exit != nullptr) base::RegistryWriteValue(record_, L"launchOnExit", launch_on_exit, false);
  }
  void Machine(const std::wstring& key, const wchar_t* name, const std::wstring& data) {
    ASSERT_TRUE(base::RegistryWriteValue(L"HKLM\\" + key, name, data, false));
  }
  // A command that cannot start makes the system show its error box; a
  // user answers it.
  void StartRegApps() {
    DialogAnswerer error([](HWND) { return true; }, WM_COMMAND, Button(IDOK));
    ASSERT_EQ(Call(L"startRegApps", DISPATCH_METHOD, ScriptArgs()), S_OK);
  }
  bool MachineKeyExists(const std::wstring& key) {
    HKEY opened;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ | KEY_WOW64_32KEY, &opened) != ERROR_SUCCESS) {
      return false;
    }
    ::RegCloseKey(opened);
    return true;
  }

  std::wstring record_;
};

TEST_F(StartRegAppsTest, StartsEachRegisteredCommandElevatedLosingItsQuotesAndDropsTheRecord) {
  const std::wstring apps = std::wstring(kVendor) + L"\\" + kGuid + L"\\Apps";
  Record(kGuid, (std::wstring(L"\\Brelvo\\RegAppsTest\\") + kGuid + L"\\Apps").c_str());
  Machine(apps, L"regApp1", L"\"" + probe_->path() + L"\" \"two words\" plain");
  Machine(apps, L"regAppMissing", L"\"" + work_ + L"missing.exe\" x");
  Machine(apps, L"RegAppWrongCase", L"\"" + probe_->path() + L"\" not-started");
  Machine(apps, L"other", L"\"" + probe_->path() + L"\" not-started");

  StartRegApps();
  EXPECT_FALSE(MachineKeyExists(std::wstring(kVendor) + L"\\" + kGuid)) << "the guid's key goes with all below it";
  EXPECT_TRUE(MachineKeyExists(kVendor));
  EXPECT_TRUE(LogHasLine("EMStartRegApps"));
  EXPECT_TRUE(LogHasLine("Software\\Brelvo\\RegAppsTest"));

  std::vector<std::wstring> starts = probe_->Starts(1);
  ASSERT_EQ(starts.size(), 1u);
  // Passed on as " two words plain": the quoted argument fell apart.
  EXPECT_EQ(SplitArgs(starts[0]), (std::vector<std::wstring>{probe_->path(), L"two", L"words", L"plain"}));
  EXPECT_TRUE(LogHasLine(" two words plain"));
  EXPECT_TRUE(LogHasLine("EMStartRegApps: \"" + base::ToAnsi(work_) + "missing.exe\" x with result failed"));
  EXPECT_TRUE(probe_->Starts(2, 1000).size() == 1u) << "names other than regApp... are not started";
}

TEST_F(StartRegAppsTest, DropsTheRecordEvenWhenNothingCanStartOrNothingIsNamed) {
  // Nothing startable.
  const std::wstring apps = std::wstring(kVendor) + L"\\" + kGuid;
  Record(kGuid, (std::wstring(L"\\Brelvo\\RegAppsTest\\") + kGuid).c_str());
  Machine(apps, L"regApp1", L"\"" + work_ + L"missing.exe\"");
  Machine(apps, L"regApp2", L"   ");
  StartRegApps();
  EXPECT_FALSE(MachineKeyExists(apps));
  EXPECT_TRUE(LogHasLine("EMStartRegApps:     with result failed"));

  // No launchOnExit: the guid's key directly under Software is no key of the
  // publisher's; nothing starts and nothing is deleted.
  Machine(std::wstring(L"SOFTWARE\\") + kGuid, L"regApp1", L"\"" + probe_->path() + L"\"");
  base::RegistryDeleteKey(record_, false);
  Record(kGuid, nullptr);
  ASSERT_EQ(Call(L"startRegApps", DISPATCH_METHOD, ScriptArgs()), S_OK);
  EXPECT_TRUE(MachineKeyExists(std::wstring(L"SOFTWARE\\") + kGuid));
  EXPECT_TRUE(probe_->Starts(1, 1000).empty());
}

// The user's record names where to look: another program's machine key, or
// one of the publisher's without the run's guid, starts and deletes nothing.
TEST_F(StartRegAppsTest, KeysOutsideThePublishersMachineKeyAreNeitherStartedNorDeleted) {
  const struct {
    std::wstring machine_key;  // below HKLM (32-bit view)
    std::wstring launch_on_exit;
  } rows[] = {
      {std::wstring(L"SOFTWARE\\OtherVendor\\") + kGuid, std::wstring(L"\\OtherVendor\\") + kGuid},
      {std::wstring(L"SOFTWARE\\BrelvoX\\") + kGuid, std::wstring(L"\\BrelvoX\\") + kGuid},
      {std::wstring(kVendor) + L"\\Apps", L"\\Brelvo\\RegAppsTest\\Apps"},  // no guid in it
      {std::wstring(kVendor) + L"\\" + kGuid + L"x", std::wstring(L"\\Brelvo\\RegAppsTest\\") + kGuid + L"x"},
  };
  for (const auto& row : rows) {
    Machine(row.machine_key, L"regApp1", L"\"" + probe_->path() + L"\" started");
    base::RegistryDeleteKey(record_, false);
    Record(kGuid, row.launch_on_exit.c_str());
    ASSERT_EQ(Call(L"startRegApps", DISPATCH_METHOD, ScriptArgs()), S_OK);
    EXPECT_TRUE(MachineKeyExists(row.machine_key)) << base::ToAnsi(row.machine_key);
    EXPECT_TRUE(LogHasLine("EMStartRegApps: Software" + base::ToAnsi(row.launch_on_exit) +
                           " is not the run's key under the publisher's machine key; nothing started or deleted"));
  }
  EXPECT_TRUE(probe_->Starts(1, 1000).empty());
}

// The record lives under HKEY_CURRENT_USER: it must not choose which key of
// the machine is deleted.
TEST_F(StartRegAppsTest, AGuidThatIsNoRunIdentifierDeletesNoMachineKey) {
  Machine(kVendor, L"keep", L"1");
  Record(L"BrelvoRegAppsTest", L"\\Elsewhere");
  ASSERT_EQ(Call(L"startRegApps", DISPATCH_METHOD, ScriptArgs()), S_OK);
  EXPECT_TRUE(MachineKeyExists(kVendor));
}

TEST(RegAppsRulesTest, OnlyTheRunsKeyBelowThePublishersMachineKeyIsOurs) {
  const std::wstring guid = L"0f8fad5b-d9cb-469f-a165-70867728950e";
  const struct {
    std::wstring record_key;
    bool own;
  } rows[] = {
      {L"Software\\Brelvo\\" + guid, true},
      {L"SOFTWARE\\brelvo\\Tessary\\" + guid + L"\\Apps", true},
      {L"Software\\Brelvo\\", false},
      {L"Software\\Brelvo\\Apps", false},              // no guid
      {L"Software\\Brelvo\\x" + guid, false},          // not a whole key name
      {L"Software\\BrelvoX\\" + guid, false},          // another vendor sharing a prefix
      {L"Software\\" + guid, false},
      {L"Software\\Other\\Brelvo\\" + guid, false},
      {L"Software", false},
  };
  for (const auto& row : rows)
    EXPECT_EQ(externalmethods::IsOwnRegAppsKey(row.record_key, guid), row.own) << base::ToAnsi(row.record_key);
  EXPECT_FALSE(externalmethods::IsOwnRegAppsKey(L"Software\\Brelvo\\Apps", L"Apps")) << "a guid must be a GUID";
}

TEST(RegAppsRulesTest, ParentKeyIsTheRecordKeyUpToTheGuid) {
  const wchar_t* guid = L"0f8fad5b-d9cb-469f-a165-70867728950e";
  const struct {
    std::wstring launch_on_exit;
    const wchar_t* parent;
    bool may_delete;
  } cases[] = {
      {std::wstring(L"\\Vendor\\") + guid + L"\\Apps", L"Software\\Vendor", true},
      {std::wstring(L"\\Vendor\\") + guid, L"Software\\Vendor", true},
      {L"\\Vendor\\Apps", L"Software", true},  // the guid's key directly under Software
      {L"", L"Software", true},
      {std::wstring(L"\\Vendor\\x") + guid, L"Software\\Vendor\\", false},  // not a whole key name
      {std::wstring(L"\\Vendor\\") + guid + L"x", L"Software\\Vendor", false},
  };
  for (const auto& c : cases) {
    const std::wstring record = externalmethods::RegAppsRecordKey(c.launch_on_exit);
    EXPECT_EQ(externalmethods::RegAppsParentKey(record, guid), c.parent) << base::ToAnsi(record);
    EXPECT_EQ(externalmethods::MayDeleteRegAppsKey(record, guid), c.may_delete) << base::ToAnsi(record);
  }
  EXPECT_FALSE(externalmethods::MayDeleteRegAppsKey(L"Software\\Microsoft", L"Microsoft"));
  EXPECT_FALSE(externalmethods::MayDeleteRegAppsKey(L"Software", L""));
}

TEST(RegAppsRulesTest, ArgumentsArePassedOnWithoutTheirQuotes) {
  const struct {
    const wchar_t* command_line;
    bool starts;
    const wchar_t* file;
    const wchar_t* parameters;
  } cases[] = {
      {L"\"C:\\Program Files\\App\\app.exe\" \"a b\" c", true, L"C:\\Program Files\\App\\app.exe", L" a b c"},
      {L"C:\\app.exe", true, L"C:\\app.exe", L""},
      {L"C:\\app.exe /q \"\"", true, L"C:\\app.exe", L" /q "},
      // Split as text, an empty line would name this very program.
      {L"", false, L"", L""},
      {L"  \t", false, L"", L""},
  };
  for (const auto& c : cases) {
    externalmethods::RegAppCommand command;
    ASSERT_EQ(externalmethods::SplitRegAppCommand(c.command_line, &command), c.starts) << base::ToAnsi(c.command_line);
    if (!c.starts) continue;
    EXPECT_EQ(command.file, c.file);
    EXPECT_EQ(command.parameters, c.parameters);
  }
}

TEST_F(ProcessMethodsTest, SilentLaunchNeedsTheQnArgument) {
  EXPECT_FALSE(Bool(L"isSilentLaunchStub", ScriptArgs(), DISPATCH_METHOD)) << "this program runs without /QN";
  EXPECT_TRUE(LogHasLine("EMIsSilentLaunchStub Result: launch normal"));
}

class RestartTest : public MethodFixture {
 protected:
  void SetUp() override {
    MethodFixture::SetUp();
    if (HasFatalFailure()) return;
    window_ = std::make_unique<DocumentlessWindow>(app_->external());
    host_->ui = &window_->ui();
    DisableShutdownPrivilege();
  }
  void TearDown() override {
    if (host_) host_->ui = nullptr;
    window_.reset();
    MethodFixture::TearDown();
  }
  std::unique_ptr<DocumentlessWindow> window_;
};

TEST_F(RestartTest, RestartWithoutAskingEnablesTheShutdownPrivilegeThenAsksForTheRestart) {
  ASSERT_FALSE(ShutdownPrivilegeEnabled());
  ASSERT_EQ(Call(L"restartSystemNoMsg", DISPATCH_METHOD, ScriptArgs()), S_OK);
  ASSERT_EQ(host_->restarts.size(), 1u);
  EXPECT_EQ(host_->restarts[0].flags, static_cast<UINT>(EWX_REBOOT | EWX_FORCEIFHUNG | 0x40));
  EXPECT_EQ(host_->restarts[0].reason, static_cast<DWORD>(SHTDN_REASON_MAJOR_APPLICATION));
  EXPECT_TRUE(host_->restarts[0].privilege_enabled);
  EXPECT_TRUE(LogHasLine("EMRestartSystemNoMsg: Restart from Restart.html"));
}

TEST_F(RestartTest, RestartAnsweredCancelDoesNothingAndOkRestarts) {
  {
    DialogAnswerer cancel(Caption(L"Restart now?"), WM_COMMAND, Button(IDCANCEL));
    ASSERT_EQ(
        Call(L"restartSystem", DISPATCH_METHOD, ScriptArgs().Text(L"The setup needs a restart").Text(L"Restart now?")),
        S_OK);
    ASSERT_TRUE(cancel.Answered());
  }
  EXPECT_TRUE(host_->restarts.empty());
  EXPECT_FALSE(ShutdownPrivilegeEnabled());
  EXPECT_TRUE(LogHasLine("EMRestartSystem: The setup needs a restart Restart now?"));

  DialogAnswerer ok(Caption(L"Restart now?"), WM_COMMAND, Button(IDOK));
  ASSERT_EQ(
      Call(L"restartSystem", DISPATCH_METHOD, ScriptArgs().Text(L"The setup needs a restart").Text(L"Restart now?")),
      S_OK);
  ASSERT_TRUE(ok.Answered());
  ASSERT_EQ(host_->restarts.size(), 1u);
  EXPECT_TRUE(host_->restarts[0].privilege_enabled);
}

}  // namespace
}  // namespace stubframework::externalmethods
