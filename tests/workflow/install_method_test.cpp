// install() with executables and ZIP packages: the stand-in installer runs as
// a child process, records the command line it was given and exits with the
// code a test asks for.
#include <gtest/gtest.h>

#include <shlobj.h>

#include <algorithm>
#include <string>

#include "base/registry.h"
#include "base/temp_folder.h"
#include "base/wide_format.h"
#include "workflow/download_properties.h"
#include "workflow/error_handle.h"
#include "workflow/install_support.h"
#include "workflow/resume_manager.h"

namespace stubframework::workflow {

using namespace testsupport::install;
namespace {

using testsupport::ScriptArgs;

class InstallMethodTest : public InstallFixture {
 protected:
  void SetUp() override {
    InstallFixture::SetUp();
    if (HasFatalFailure()) return;
    installer_ = work_ + L"installer.exe";
    record_ = work_ + L"command_line.txt";
    PlaceInstaller(installer_);
  }
  void TearDown() override {
    if (app_) base::RegistryDeleteKey(workflow::ResumeManagerKey(app_->settings_key()), false);
    InstallFixture::TearDown();
  }

  // Parameters that make the stand-in record its command line.
  std::wstring Recording(const std::wstring& more) { return L"record=\"" + record_ + L"\" " + more; }
  std::wstring Recorded() { return ReadUtf16File(record_); }
  std::wstring RecordValue(const wchar_t* name) {
    std::wstring value;
    base::RegistryReadValue(workflow::ResumeManagerKey(app_->settings_key()), name, value);
    return value;
  }

  std::wstring installer_;
  std::wstring record_;
};

// The running calls once the installer has set its total (the reporter may
// publish the previous total first), checked to count up; their highest count.
LONG HighestWhileRunning(const Calls& calls, LONG total) {
  LONG highest = -1;
  for (size_t i = 0; i + 2 < calls.size(); ++i) {
    if (calls[i][1] != total) {
      EXPECT_EQ(highest, -1) << "call " << i << " after the total was set";
      continue;
    }
    EXPECT_GE(calls[i][2], highest) << "the count never goes back";
    highest = calls[i][2];
  }
  return highest;
}

struct ExitCase {
  DWORD raw;
  LONG code;
};

TEST_F(InstallMethodTest, EachInstallerExitCodeReachesThePageMappedAndStaysAvailableRaw) {
  const ExitCase cases[] = {
      {0, workflow::kNoError},       {1602, workflow::kCancelled},  {1603, workflow::kFailure},
      {1618, workflow::kWin8GM},     {1638, workflow::kError1638},  {1641, workflow::kReboot},
      {3010, workflow::kReboot},     {20000, workflow::kError20000}, {7, workflow::kUnknowError},
  };
  for (const ExitCase& c : cases) {
    SCOPED_TRACE(c.raw);
    Calls calls = Install(installer_, base::Format(L"exit=%lu delay=150", c.raw));
    ExpectProgressThenFinal(calls, c.code);
    EXPECT_EQ(LastInstallError(), c.raw);
  }
  EXPECT_TRUE(LogHasLine("TransferInstallError HRESULT: 4e20")) << LogText();  // 20000
  EXPECT_TRUE(LogHasLine(base::ToAnsi(L"Install fail, install path : " + installer_ + L", install result : 13")));
}

TEST_F(InstallMethodTest, PlaceholdersBecomeTheQuotedLogPathAndStubPathAndTheDownloadTimeFollows) {
  ScriptArgs none;
  base::UniqueVariant seconds;
  ASSERT_EQ(Call(L"getDownloadTimeProp", none, seconds.Receive()), S_OK);
  host_->stub = L"C:\\Users\\Someone\\Down loads\\TessarySetup.exe";
  const std::wstring param = Recording(L"LOG=$LOGFILE$ STUB=$STUBPATH$ AGAIN=$LOGFILE$");
  Calls calls = Install(installer_, param);
  ExpectProgressThenFinal(calls, workflow::kNoError);

  const std::wstring line = Recorded();
  EXPECT_EQ(line.compare(0, installer_.size() + 3, L"\"" + installer_ + L"\" "), 0) << base::ToAnsi(line);
  const std::wstring log_folder = temp_ + L"Tessary_log\\";
  size_t log = line.find(L"LOG=\"" + log_folder + L"log_");
  ASSERT_NE(log, std::wstring::npos) << base::ToAnsi(line);
  // "log_" + 14 digits of UTC time + ".txt", in quotes.
  size_t stamp = log + 5 + log_folder.size() + 4;
  for (size_t i = stamp; i < stamp + 14; ++i) EXPECT_TRUE(iswdigit(line[i])) << base::ToAnsi(line);
  EXPECT_EQ(line.substr(stamp + 14, 5), L".txt\"");
  EXPECT_TRUE(Exists(log_folder)) << "the log folder is made";
  EXPECT_NE(line.find(L"STUB=\"C:\\Users\\Someone\\Down loads\\TessarySetup.exe\""), std::wstring::npos);
  EXPECT_NE(line.find(L"AGAIN=$LOGFILE$"), std::wstring::npos) << "only the first occurrence is replaced";
  const std::wstring tail = L" DOWNLOADTIME=" + std::wstring(seconds.Get()->bstrVal);
  EXPECT_EQ(line.substr(line.size() - tail.size()), tail) << base::ToAnsi(line);
  EXPECT_TRUE(LogHasLine(base::ToAnsi(L"EMInstall params 0, " + param + L"," + tail + L", " + installer_)))
      << LogText();
}

TEST_F(InstallMethodTest, EstimatedTimeTicksEveryTenthOfASecondAndStopsOneShortUntilTheEnd) {
  // Ten ticks for one second; the installer runs for 1.6 s.
  Calls calls = Install(installer_, L"delay=1600", 1);
  ExpectProgressThenFinal(calls, workflow::kNoError);
  ASSERT_GE(calls.size(), 3u);
  EXPECT_EQ(HighestWhileRunning(calls, 10), 9) << "one tick short of the total while the process runs";
  EXPECT_EQ(calls[calls.size() - 2], (std::vector<LONG>{workflow::kRunning, 10, 10}));
  EXPECT_EQ(calls.back(), (std::vector<LONG>{workflow::kNoError, 10, 10}));
}

TEST_F(InstallMethodTest, ThirtySecondsEstimatedClimbTo299Of300ThenEndAt300) {
  auto job = std::make_unique<workflow::InstallJob>();
  job->install_file = installer_;
  job->params = L"delay=2500";
  job->estimated_time = 30;
  job->tick_ms = 2;  // 300 ticks well inside the run
  Calls calls = RunJob(std::move(job));
  ExpectProgressThenFinal(calls, workflow::kNoError);
  EXPECT_EQ(HighestWhileRunning(calls, 300), 299);
  EXPECT_EQ(calls[calls.size() - 2], (std::vector<LONG>{workflow::kRunning, 300, 300}));
  EXPECT_EQ(calls.back(), (std::vector<LONG>{workflow::kNoError, 300, 300}));
}

TEST_F(InstallMethodTest, UnknownExtensionRunsNothingAndReportsFileNotExist) {
  std::wstring renamed = work_ + L"installer.exe.txt";
  ASSERT_TRUE(::CopyFileW(installer_.c_str(), renamed.c_str(), FALSE));
  Calls calls = Install(renamed, Recording(L"exit=0"));
  EXPECT_EQ(calls, (Calls{{workflow::kFileNotExist, 0, 0}})) << "no progress, one final call";
  EXPECT_FALSE(Exists(record_));
}

TEST_F(InstallMethodTest, InstallerThatCannotStartReportsFailure) {
  Calls calls = Install(work_ + L"missing.exe", L"");
  ExpectProgressThenFinal(calls, workflow::kFailure);
  EXPECT_TRUE(LogHasLine(base::ToAnsi(L"Install \"" + work_ + L"missing.exe\"   DOWNLOADTIME=0, CreateProcessW failed")))
      << LogText();
}

TEST_F(InstallMethodTest, ZipPackageRunsTheSetupInItsSubfolderThenTheUnzipFolderIsGone) {
  std::wstring zip = work_ + L"Package.ZIP";
  ASSERT_TRUE(::CopyFileW(BuildPath(NESTED_SETUP_ZIP).c_str(), zip.c_str(), FALSE));
  Calls calls = Install(zip, Recording(L"exit=3010"));
  ExpectProgressThenFinal(calls, workflow::kReboot);
  EXPECT_EQ(LastInstallError(), 3010u);

  // The setup program recorded where it ran: <temp>\<hex>\package\bin\setup.exe.
  const std::wstring line = Recorded();
  ASSERT_EQ(line.compare(0, temp_.size() + 1, L"\"" + temp_), 0) << base::ToAnsi(line);
  size_t folder_end = line.find(L'\\', temp_.size() + 1);
  ASSERT_NE(folder_end, std::wstring::npos);
  std::wstring unzip_folder = line.substr(1, folder_end - 1);
  EXPECT_EQ(line.substr(folder_end, 24), L"\\package\\bin\\setup.exe\" ");
  EXPECT_FALSE(Exists(unzip_folder)) << base::ToAnsi(unzip_folder);
}

TEST_F(InstallMethodTest, PackageExtractedDuringTheDownloadRunsFromItsFoldersAndIsDeleted) {
  std::wstring unzip = base::MakeUniqueFolder(temp_);
  ASSERT_TRUE(::CreateDirectoryW((unzip + L"deep").c_str(), nullptr));
  PlaceInstaller(unzip + L"deep\\setup.exe");
  std::wstring zip = work_ + L"fetched.zip";  // the package itself is not needed any more
  methods_->properties().SetProperty(workflow::kIsExtractInDownload, workflow::kTrue);
  methods_->properties().SetProperty(zip + workflow::kUnzipFolderSuffix, unzip);
  methods_->properties().SetProperty(zip + workflow::kSetupFolderSuffix, unzip + L"deep");

  Calls calls = Install(zip, Recording(L"exit=0"));
  ExpectProgressThenFinal(calls, workflow::kNoError);
  EXPECT_EQ(Recorded().compare(0, unzip.size() + 16, L"\"" + unzip + L"deep\\setup.exe\""), 0);
  EXPECT_FALSE(Exists(unzip));
}

TEST_F(InstallMethodTest, FoldersNamedOutsideTheTemporaryFolderAreNeitherRunNorDeleted) {
  // The test's temporary folder sits inside the machine's; its parent is outside.
  std::wstring outside = base::MakeUniqueFolder(temp_.substr(0, temp_.rfind(L'\\', temp_.size() - 2) + 1));
  ASSERT_FALSE(outside.empty());
  PlaceInstaller(outside + L"setup.exe");
  std::wstring zip = work_ + L"fetched.zip";
  methods_->properties().SetProperty(workflow::kIsExtractInDownload, workflow::kTrue);
  const std::wstring folders[][2] = {
      {outside, outside},                                 // not in the temporary folder
      {temp_ + L"1A\\", temp_ + L"1A\\..\\..\\"},        // a setup folder that climbs out
      {L"", L""},                                         // nothing recorded
  };
  for (const auto& [unzip, setup] : folders) {
    methods_->properties().SetProperty(zip + workflow::kUnzipFolderSuffix, unzip);
    methods_->properties().SetProperty(zip + workflow::kSetupFolderSuffix, setup);
    Calls calls = Install(zip, Recording(L"exit=0"));
    ExpectProgressThenFinal(calls, workflow::kFailure);
  }
  EXPECT_FALSE(Exists(record_)) << "nothing ran";
  EXPECT_TRUE(Exists(outside + L"setup.exe"));
  base::DeleteFolderRecursive(outside);
}

TEST_F(InstallMethodTest, SilentParametersKeepTheWindowAndAnyOthersHideIt) {
  Install(installer_, L"/QN");
  Install(installer_, L"/V\"/qn\"");
  EXPECT_EQ(host_->ui.hidden, 0);
  Install(installer_, L"/qn1");
  EXPECT_EQ(host_->ui.hidden, 1);
}

TEST_F(InstallMethodTest, LaunchOnExitGetsTheRunGuidInItsFirstValueOnlyAndTheRecordKeepsBoth) {
  base::RegistryWriteValue(workflow::ResumeManagerKey(app_->settings_key()), L"folder", L"C:\\left", false);
  Calls calls = Install(
      installer_, Recording(L"LAUNCHONEXIT=\"C:\\Program Files\\App\\app.exe /id=$GUID$\" LAUNCHONEXIT=$GUID$ x=$GUID$"));
  ExpectProgressThenFinal(calls, workflow::kNoError);

  const std::wstring guid = RecordValue(L"guid");
  EXPECT_TRUE(workflow::IsGuidText(guid)) << base::ToAnsi(guid);
  const std::wstring value = L"\"C:\\Program Files\\App\\app.exe /id=" + guid + L"\"";
  EXPECT_EQ(RecordValue(L"launchOnExit"), value);
  EXPECT_NE(Recorded().find(L"LAUNCHONEXIT=" + value + L" LAUNCHONEXIT=$GUID$ x=$GUID$ "), std::wstring::npos)
      << base::ToAnsi(Recorded());
  EXPECT_EQ(RecordValue(L"folder"), L"") << "a fresh run deletes the record first";

  // The next fresh run gets an identifier of its own.
  Install(installer_, L"exit=0");
  EXPECT_TRUE(workflow::IsGuidText(RecordValue(L"guid")));
  EXPECT_NE(RecordValue(L"guid"), guid);
}

TEST_F(InstallMethodTest, ASuccessfulInstallRemovesTheNamedDesktopShortcutOnly) {
  wchar_t desktop_path[MAX_PATH] = {};
  ASSERT_TRUE(SUCCEEDED(::SHGetFolderPathW(nullptr, CSIDL_DESKTOPDIRECTORY, nullptr, 0, desktop_path)));
  const std::wstring desktop = base::WithTrailingBackslash(desktop_path);
  ::CreateDirectoryW(desktop.c_str(), nullptr);
  const std::wstring shortcut = L"Continue Tessary setup.lnk";
  const std::wstring kept = work_ + L"kept.lnk";
  for (const std::wstring& path : {desktop + shortcut, kept}) {
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    ::CloseHandle(file);
  }
  Install(installer_, L"exit=1603", 0, shortcut);
  EXPECT_TRUE(Exists(desktop + shortcut)) << "a failed install keeps it";
  Install(installer_, L"exit=0", 0, shortcut);
  EXPECT_FALSE(Exists(desktop + shortcut));

  // A name that walks out of the desktop folder deletes nothing.
  std::wstring relative = L"..\\..\\..\\..\\..\\..\\" + kept.substr(3);
  Install(installer_, L"exit=0", 0, relative);
  EXPECT_TRUE(Exists(kept));
}

}  // namespace
}  // namespace stubframework::workflow
