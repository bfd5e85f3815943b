// removeProgram, repairProgram, verifyFileInSpecialDirectory and
// cancelVerifyThread through window.external: a wixl-built package installed
// into the prefix with msiexec, repaired and removed again; the product's own
// uninstall command (a recorder standing in for it); the package search over
// folder trees of the test's own.
#include <gtest/gtest.h>
#include <windows.h>
#include <msi.h>

#include <cstring>
#include <regex>
#include <string>

#include "app/application.h"
#include "base/wide_format.h"
#include "externalmethods/worker_method_fixture.h"
#include "support/process_support.h"
#include "telemetry/analytics.h"

namespace testsupport {
namespace {

using testsupport::ReadWholeFile;
using testsupport::RunAndWait;
using testsupport::WindowsPathOf;

// The fixture package's product code, as a page passes it (without braces).
constexpr wchar_t kProductCode[] = L"3F1D2C4B-7A6E-4B58-9D21-6C0E8F4A2B31";
constexpr wchar_t kBracedCode[] = L"{3F1D2C4B-7A6E-4B58-9D21-6C0E8F4A2B31}";
// A product that is never installed; its uninstall entry is the test's.
constexpr wchar_t kOtherCode[] = L"{6A0C2E4F-1B3D-4C5E-8F70-92A4B6C8D0E2}";
constexpr wchar_t kUninstallRoot[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
constexpr DWORD kUnknownProduct = 1605;  // ERROR_UNKNOWN_PRODUCT

bool Installed(const wchar_t* braced_code) { return ::MsiQueryProductStateW(braced_code) == INSTALLSTATE_DEFAULT; }

bool RunningUnderWine() {
  return ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

bool Exists(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// The product's uninstall entry in the 32-bit view, as a 32-bit installer writes it.
void SetUninstallString(const wchar_t* braced_code, const std::wstring& text) {
  HKEY key = nullptr;
  std::wstring path = std::wstring(kUninstallRoot) + braced_code;
  ASSERT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_SET_VALUE | KEY_WOW64_32KEY,
                              nullptr, &key, nullptr),
            ERROR_SUCCESS);
  ::RegSetValueExW(key, L"UninstallString", 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                   static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
  ::RegCloseKey(key);
}

void DeleteUninstallEntry(const wchar_t* braced_code) {
  std::wstring path = std::wstring(kUninstallRoot) + braced_code;
  ::RegDeleteKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), KEY_WOW64_32KEY, 0);
}

class MaintenanceMethodTest : public WorkerMethodFixture {
 protected:
  // A case that installed the package and did not remove it leaves no product behind.
  void TearDown() override {
    if (Installed(kBracedCode)) RunAndWait(L"msiexec.exe /x " + std::wstring(kBracedCode) + L" /qn");
    WorkerMethodFixture::TearDown();
  }
  Calls Remove(const std::wstring& name, bool force_msiexec, const std::wstring& code) {
    RecordingFunction function;
    {
      ScriptArgs args;
      args.Text(name.c_str()).Bool(force_msiexec).Text(code.c_str()).Dispatch(&function);
      EXPECT_EQ(Call(L"removeProgram", DISPATCH_METHOD, args), S_OK);
    }
    return PumpUntilDone(function);
  }
  Calls Repair(const std::wstring& name, const std::wstring& code) {
    RecordingFunction function;
    {
      ScriptArgs args;
      args.Text(name.c_str()).Text(code.c_str()).Dispatch(&function);
      EXPECT_EQ(Call(L"repairProgram", DISPATCH_METHOD, args), S_OK);
    }
    return PumpUntilDone(function);
  }
  Calls Verify(const std::wstring& root, const std::wstring& relative) {
    RecordingFunction function;
    {
      ScriptArgs args;
      args.Text(root.c_str()).Text(relative.c_str()).Dispatch(&function);
      EXPECT_EQ(Call(L"verifyFileInSpecialDirectory", DISPATCH_METHOD, args), S_OK);
    }
    return PumpUntilDone(function);
  }
  void CancelSearch() {
    ScriptArgs none;
    EXPECT_EQ(Call(L"cancelVerifyThread", DISPATCH_METHOD, none), S_OK);
  }

  // What the worker's "Uninstall <command>, return <raw>, error handler <code>"
  // line says; the line must be there exactly once. `command_pattern` has
  // one group, the log file.
  struct Ran {
    std::wstring log_file;
    DWORD raw = 0xFFFFFFFF;
    int code = -1;
  };
  Ran RanCommand(const std::string& command_pattern) {
    Ran ran;
    std::string log = LogText();
    std::regex line("\\] Uninstall " + command_pattern + ", return ([0-9]+), error handler ([0-9]+)\n");
    std::smatch match;
    if (!std::regex_search(log, match, line)) {
      ADD_FAILURE() << "no line for " << command_pattern << " in\n" << log;
      return ran;
    }
    EXPECT_EQ(std::distance(std::sregex_iterator(log.begin(), log.end(), line), std::sregex_iterator()), 1);
    std::string path = match[1];
    ran.log_file.assign(path.begin(), path.end());
    ran.raw = std::stoul(match[2]);
    ran.code = std::stoi(match[3]);
    return ran;
  }

  void EnsureInstalled() {
    if (Installed(kBracedCode)) return;
    ASSERT_EQ(RunAndWait(L"msiexec.exe /i \"" + WindowsPathOf(MAINTAINED_MSI) + L"\" /qn"), 0u);
    ASSERT_TRUE(Installed(kBracedCode)) << "the test package did not install";
  }

  // The system's msiexec, quoted, as the command line names it.
  static std::string MsiexecPattern() {
    wchar_t system[MAX_PATH] = {};
    const UINT length = ::GetSystemDirectoryW(system, MAX_PATH);
    std::string path = "\"" + stubframework::base::ToAnsi(std::wstring(system, length) + L"\\msiexec.exe") + "\"";
    std::string escaped;
    for (char c : path) {
      if (std::strchr("\\.^$|()[]{}*+?", c) != nullptr) escaped.push_back('\\');
      escaped.push_back(c);
    }
    return escaped;
  }

  std::string LogFolderPattern() {
    std::string folder = stubframework::base::ToAnsi(temp_ + L"Tessary_log\\");
    std::string escaped;
    for (char c : folder) {
      if (std::strchr("\\.^$|()[]{}*+?", c) != nullptr) escaped.push_back('\\');
      escaped.push_back(c);
    }
    return escaped;
  }

  bool Uploads(const std::wstring& path) {
    for (const std::wstring& file : app_->analytics()->upload_files()) {
      if (file == path) return true;
    }
    return false;
  }
};

TEST_F(MaintenanceMethodTest, RemovalOfAnInstalledPackage) {
  EnsureInstalled();
  EXPECT_EQ(Remove(L"Maint Test", true, kProductCode), (Calls{{0}})) << "one call, with the code alone";
  Ran ran =
      RanCommand(MsiexecPattern() + " /uninstall \\{3F1D2C4B-7A6E-4B58-9D21-6C0E8F4A2B31\\} /qn /norestart /l\\*v \"(" +
                 LogFolderPattern() + "remove_Maint Test_[0-9]{14}\\.log)\"");
  EXPECT_EQ(ran.raw, 0u);
  EXPECT_EQ(ran.code, 0);
  EXPECT_TRUE(Exists(ran.log_file));
  EXPECT_TRUE(Uploads(ran.log_file)) << "the installer's log goes with a failed run's upload";
  EXPECT_FALSE(Installed(kBracedCode)) << "the product is gone";
  EXPECT_EQ(Prop(L"installTotal"), L"150");
  EXPECT_EQ(Prop(L"installCurrent"), L"150");
  EXPECT_EQ(bridge()->run()->last_install_error(), 0u);
}

TEST_F(MaintenanceMethodTest, RepairOfAnInstalledPackage) {
  EnsureInstalled();
  Calls calls = Repair(L"Maint Test", kProductCode);
  Ran ran = RanCommand(MsiexecPattern() + " /f \\{3F1D2C4B-7A6E-4B58-9D21-6C0E8F4A2B31\\} /qn /norestart /l\\*v \"(" +
                       LogFolderPattern() + "repair_Maint Test_[0-9]{14}\\.log)\"");
  EXPECT_EQ(calls, (Calls{{ran.code}}));
  EXPECT_EQ(bridge()->run()->last_install_error(), ran.raw);
  if (RunningUnderWine() && ran.raw == 1) {
    GTEST_SKIP() << "Wine's msiexec does not repair by product code (\"Product code treatment not implemented "
                    "yet\") and ends with 1";
  }
  EXPECT_EQ(ran.raw, 0u);
  EXPECT_TRUE(Uploads(ran.log_file));
  EXPECT_TRUE(Installed(kBracedCode));
}

TEST_F(MaintenanceMethodTest, AnInstallerFailureReportsItsMappedCodeAndKeepsTheRawOne) {
  ASSERT_FALSE(Installed(kOtherCode));
  EXPECT_EQ(Remove(L"absent", true, kOtherCode), (Calls{{1}}));
  Ran ran = RanCommand(MsiexecPattern() + " /uninstall \\{6A0C2E4F-1B3D-4C5E-8F70-92A4B6C8D0E2\\} .*()\"");
  EXPECT_EQ(ran.raw, kUnknownProduct);
  EXPECT_EQ(ran.code, 1);
  EXPECT_EQ(bridge()->run()->last_install_error(), kUnknownProduct);
  EXPECT_EQ(Prop(L"installCurrent"), Prop(L"installTotal"));
}

TEST_F(MaintenanceMethodTest, TheWindowsInstallersOwnUninstallStringIsIgnored) {
  SetUninstallString(kOtherCode, std::wstring(L"MsiExec.exe /X") + kOtherCode);
  Calls calls = Remove(L"own", false, kOtherCode);
  DeleteUninstallEntry(kOtherCode);
  EXPECT_EQ(calls, (Calls{{1}}));
  EXPECT_EQ(RanCommand(MsiexecPattern() + " /uninstall \\{6A0C2E4F-1B3D-4C5E-8F70-92A4B6C8D0E2\\} /qn .*()\"").raw,
            kUnknownProduct);
  EXPECT_EQ(LogText().find("uninstallstring"), std::string::npos);
}

// The product's own command runs as it stands with the switches appended; a
// recorder stands in for it and ends as an installer asking for a restart.
TEST_F(MaintenanceMethodTest, AnOwnUninstallStringIsRunWithTheSwitchesAppended) {
  const std::wstring record = temp_ + L"record.txt";
  const std::wstring own = L"\"" + WindowsPathOf(ARG_RECORDER_EXE) + L"\" msiexec.exe ";
  ::SetEnvironmentVariableW(L"STUB_RECORD_FILE", record.c_str());
  ::SetEnvironmentVariableW(L"STUB_RECORD_EXIT", L"3010");
  SetUninstallString(kOtherCode, own);

  Calls forced = Remove(L"own", true, kOtherCode);
  const bool forced_ran_own = Exists(record);
  Calls calls = Remove(L"own", false, kOtherCode);
  DeleteUninstallEntry(kOtherCode);
  ::SetEnvironmentVariableW(L"STUB_RECORD_FILE", nullptr);
  ::SetEnvironmentVariableW(L"STUB_RECORD_EXIT", nullptr);

  EXPECT_EQ(forced, (Calls{{1}})) << "forced: msiexec, which does not know the product";
  EXPECT_FALSE(forced_ran_own);
  EXPECT_EQ(calls, (Calls{{11}})) << "3010 asks for a restart";
  EXPECT_TRUE(LogHasLine("EMRemoveProgram  uninstallstring : " + stubframework::base::ToAnsi(own)));
  const Ran ran = RanCommand(".* msiexec\\.exe /qn /norestart /l\\*v \"(.*remove_own_[0-9]{14}\\.log)\"");
  const std::wstring log_file = ran.log_file;
  EXPECT_EQ(ran.raw, 3010u);
  std::string recorded = ReadWholeFile(record);
  std::wstring line(reinterpret_cast<const wchar_t*>(recorded.data()), recorded.size() / sizeof(wchar_t));
  EXPECT_EQ(line, own + L"/qn /norestart /l*v \"" + log_file + L"\"\n");
  EXPECT_EQ(bridge()->run()->last_install_error(), 3010u);
  EXPECT_EQ(Prop(L"installCurrent"), L"150");
}

TEST_F(MaintenanceMethodTest, AProductCodeThatIsNoGuidRunsNothing) {
  EXPECT_EQ(Remove(L"x", true, L"x} /i C:\\x.msi {y"), (Calls{{4}}));
  EXPECT_EQ(Repair(L"x", L"{x}\\..\\y"), (Calls{{4}}));
  EXPECT_EQ(LogText().find("] Uninstall "), std::string::npos) << "no command ran";
  EXPECT_TRUE(LogHasLine("EMRemoveProgram: x} /i C:\\x.msi {y is not a product code"));
}

class PackageSearchTest : public MaintenanceMethodTest {
 protected:
  void SetUp() override {
    MaintenanceMethodTest::SetUp();
    if (HasFatalFailure()) return;
    medium_ = temp_ + L"medium\\";
    for (const wchar_t* folder : {L"", L"Docs", L"Media", L"Media\\Setup", L"Media\\Setup\\x64", L"Other",
                                  L"Other\\x64"}) {
      ::CreateDirectoryW((medium_ + folder).c_str(), nullptr);
    }
    // Decoys: the right file name outside the relative path, and the relative
    // path's folder without the file.
    for (const wchar_t* file : {L"Docs\\readme.txt", L"Other\\x64\\Setup.msi", L"Media\\Setup\\x64\\Setup.msi"}) {
      HANDLE h = ::CreateFileW((medium_ + file).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
      ::CloseHandle(h);
    }
  }
  std::wstring medium_;
};

TEST_F(PackageSearchTest, FindsTheFolderThatHoldsTheRelativePath) {
  struct Row {
    std::wstring root;
    const wchar_t* relative;
    LONG code;
    std::wstring package_path;
  } rows[] = {
      {medium_, L"Setup\\x64\\Setup.msi", 0, medium_ + L"Media\\"},
      {medium_.substr(0, medium_.size() - 1), L"Setup\\x64\\Setup.msi", 0, medium_ + L"Media\\"},
      {medium_, L"Setup\\arm64\\Setup.msi", 4, L""},
      {medium_, L"setup\\x64\\setup.msi", 4, L""},  // names are compared exactly
      {temp_ + L"no such folder", L"Setup\\x64\\Setup.msi", 4, L""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(stubframework::base::ToAnsi(row.root + L" " + row.relative));
    EXPECT_EQ(Verify(row.root, row.relative), (Calls{{row.code}}));
    EXPECT_EQ(Prop(L"PackagePath"), row.package_path);
  }
}

TEST_F(PackageSearchTest, ACancelBeforeTheSearchHasNoEffect) {
  CancelSearch();
  EXPECT_EQ(Verify(medium_, L"Setup\\x64\\Setup.msi"), (Calls{{0}}));
  EXPECT_TRUE(LogHasLine("EMCancelVerifyThread Finish"));
}

TEST_F(PackageSearchTest, ACancelDuringTheSearchEndsItWithCancelled) {
  // Enough folders that the search is still walking when the cancel comes.
  const std::wstring wide = temp_ + L"wide\\";
  ::CreateDirectoryW(wide.c_str(), nullptr);
  for (int i = 0; i < 400; ++i) ::CreateDirectoryW((wide + std::to_wstring(i)).c_str(), nullptr);

  RecordingFunction function;
  {
    ScriptArgs args;
    args.Text(wide.c_str()).Text(L"Setup\\x64\\Setup.msi").Dispatch(&function);
    ASSERT_EQ(Call(L"verifyFileInSpecialDirectory", DISPATCH_METHOD, args), S_OK);
  }
  CancelSearch();
  EXPECT_EQ(PumpUntilDone(function), (Calls{{9}}));
  EXPECT_EQ(Prop(L"PackagePath"), L"");
  EXPECT_TRUE(LogHasLine("VerifyThreadFunc 0 - 0 ; common directory: "));
}

}  // namespace
}  // namespace testsupport
