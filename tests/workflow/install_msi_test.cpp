// install() of Windows Installer packages through the real msi.dll, with a
// package wixl built for the test: it installs payload.txt into INSTALLDIR.
#include <gtest/gtest.h>
#include <windows.h>
#include <msi.h>

#include <string>

#include "base/wide_format.h"
#include "support/test_files.h"
#include "workflow/error_handle.h"
#include "workflow/install_support.h"
#include "workflow/transfer_install_error.h"

namespace stubframework::workflow {

using namespace testsupport::install;
namespace {

constexpr wchar_t kProductCode[] = L"{6B2C2E70-3D3A-4E0B-9C41-5A0E9E7D1A11}";

class InstallMsiTest : public InstallFixture {
 protected:
  void SetUp() override {
    InstallFixture::SetUp();
    if (HasFatalFailure()) return;
    package_ = work_ + L"Product.MSI";  // the extension in capitals still means a package
    ASSERT_TRUE(::CopyFileW(BuildPath(PRODUCT_MSI).c_str(), package_.c_str(), FALSE));
    target_ = work_ + L"product";
  }
  void TearDown() override {
    // Leave the prefix without the product, whatever the test did.
    INSTALLUILEVEL previous = ::MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);
    ::MsiConfigureProductW(kProductCode, INSTALLLEVEL_DEFAULT, INSTALLSTATE_ABSENT);
    ::MsiSetInternalUI(previous, nullptr);
    InstallFixture::TearDown();
  }

  std::wstring InstallDir() { return L"INSTALLDIR=\"" + target_ + L"\""; }
  bool Installed() { return Exists(target_ + L"\\payload.txt"); }

  std::wstring package_;
  std::wstring target_;
};

TEST_F(InstallMsiTest, SilentPackageInstallsWithSwitchesTakenOutAndItsLogInTheRunsLogFolder) {
  const std::wstring param = InstallDir() + L" /qn /l*v \"$LOGFILE$\"";
  Calls calls = Install(package_, param);

  ExpectProgressThenFinal(calls, workflow::kNoError);
  ASSERT_GE(calls.size(), 2u);
  const LONG total = calls.back()[1];
  EXPECT_EQ(calls[calls.size() - 2], (std::vector<LONG>{workflow::kRunning, total, total}));
  EXPECT_EQ(calls.back(), (std::vector<LONG>{workflow::kNoError, total, total}));
  EXPECT_TRUE(Installed());
  EXPECT_EQ(LastInstallError(), 0u);
  EXPECT_EQ(host_->ui.hidden, 0) << "a silent installer keeps the stub's window";

  // What the install call received: neither switch, no placeholder, no stray quote.
  EXPECT_TRUE(LogHasLine(base::ToAnsi(L"InstallMsi " + package_ + L", parameter:  " + InstallDir() +
                                      L"    DOWNLOADTIME=0")))
      << LogText();
  EXPECT_TRUE(LogHasLine(base::ToAnsi(L"InstallMsi " + package_ + L", return 0")));
  // The Windows Installer's own log went where the API was told, and is uploaded with a failed run's log.
  ASSERT_EQ(host_->uploads.size(), 1u);
  const std::wstring& msi_log = host_->uploads[0];
  EXPECT_EQ(msi_log.compare(0, temp_.size() + 16, temp_ + L"Tessary_log\\log_"), 0) << base::ToAnsi(msi_log);
  EXPECT_NE(testsupport::ReadWholeFile(msi_log).find("Property(S): DOWNLOADTIME = 0"), std::string::npos)
      << base::ToAnsi(msi_log);
}

TEST_F(InstallMsiTest, PackageWithoutSwitchesHidesTheWindowAndRunsWithTheDefaultUi) {
  Calls calls = Install(package_, InstallDir());
  ExpectProgressThenFinal(calls, workflow::kNoError);
  EXPECT_TRUE(Installed());
  EXPECT_EQ(host_->ui.hidden, 1);
}

TEST_F(InstallMsiTest, ScheduledRestartReportsReboot) {
  Calls calls = Install(package_, InstallDir() + L" REBOOTME=1 /qn");
  ExpectProgressThenFinal(calls, workflow::kReboot);
  EXPECT_EQ(LastInstallError(), 3010u);
  EXPECT_TRUE(Installed());
}

TEST_F(InstallMsiTest, FailingPackageReportsItsMappedResultAndLeavesNothingInstalled) {
  Calls calls = Install(package_, InstallDir() + L" FAILME=1 /qn");
  const ULONG raw = LastInstallError();
  // Windows answers 1603 for a failed custom action; Wine's msi.dll 1627.
  EXPECT_TRUE(raw == 1603 || raw == 1627) << raw;
  ExpectProgressThenFinal(calls, workflow::MapInstallResult(raw));
  EXPECT_FALSE(Installed()) << "rolled back";
}

TEST_F(InstallMsiTest, FileThatIsNoPackageReportsUnknownError) {
  std::wstring bogus = work_ + L"bogus.msi";
  HANDLE file = ::CreateFileW(bogus.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  DWORD written = 0;
  ::WriteFile(file, "not a package", 13, &written, nullptr);
  ::CloseHandle(file);
  Calls calls = Install(bogus, L"/qn");
  ExpectProgressThenFinal(calls, workflow::kUnknowError);
  const ULONG raw = LastInstallError();
  // Windows answers 1619 or 1620; Wine's msi.dll 1627.
  EXPECT_TRUE(raw == ERROR_INSTALL_PACKAGE_OPEN_FAILED || raw == ERROR_INSTALL_PACKAGE_INVALID ||
              raw == ERROR_FUNCTION_FAILED)
      << raw;
}

}  // namespace
}  // namespace stubframework::workflow
