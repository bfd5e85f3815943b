// A stub started by its RunOnce entry: this test executable runs with
// RESUME=INSTALLING on its command line, as the entry starts the stub. The
// method table, built after the records are in place, restores the package
// extracted before the restart, and the install worker reuses the run's
// identifier from a complete resume-manager record.
#include <gtest/gtest.h>

#include <string>

#include "app/command_line.h"
#include "base/registry.h"
#include "base/temp_folder.h"
#include "base/wide_format.h"
#include "workflow/download_properties.h"
#include "workflow/error_handle.h"
#include "workflow/extracted_packages.h"
#include "workflow/install_support.h"
#include "workflow/resume_manager.h"

namespace stubframework::workflow {

using namespace testsupport::install;
namespace {

using testsupport::ScriptArgs;

constexpr wchar_t kEarlierGuid[] = L"0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0";

TEST(ResumedStartTest, ThisProcessResumesAnInstall) { EXPECT_EQ(app::GetResumeMode(), app::kResumeInstalling); }

class ResumedInstallTest : public InstallFixture {
 protected:
  void BeforeMethods() override {
    settings_ = app_->settings_key();
    record_ = workflow::ResumeManagerKey(settings_);
    base::RegistryDeleteKey(record_, false);
    installer_ = work_for_records_ = base::MakeUniqueFolder(temp_);
    installer_ += L"installer.exe";
    PlaceInstaller(installer_);
    command_line_ = work_for_records_ + L"command_line.txt";
  }
  void TearDown() override {
    base::RegistryDeleteKey(record_, false);
    base::RegistryDeleteKey(workflow::ExtractFoldersKey(settings_), false);
    InstallFixture::TearDown();
  }
  void WriteRecord(const wchar_t* name, const std::wstring& value) {
    ASSERT_TRUE(base::RegistryWriteValue(record_, name, value, false));
  }
  std::wstring RecordedGuid() {
    std::wstring guid;
    base::RegistryReadValue(record_, L"guid", guid);
    return guid;
  }
  // Runs the stand-in with LAUNCHONEXIT=$GUID$; the identifier it was given.
  std::wstring InstallGivesGuid(const std::wstring& file) {
    Calls calls = Install(file, L"record=\"" + command_line_ + L"\" LAUNCHONEXIT=$GUID$ exit=0");
    ExpectProgressThenFinal(calls, workflow::kNoError);
    std::wstring line = ReadUtf16File(command_line_);
    size_t at = line.find(L"LAUNCHONEXIT=");
    return at == std::wstring::npos ? std::wstring() : line.substr(at + 13, 36);
  }

  std::wstring settings_;
  std::wstring record_;
  std::wstring work_for_records_;
  std::wstring installer_;
  std::wstring command_line_;
};

// Before the restart the download extracted a package and the install asked
// for a restart; both records are on disk when the stub comes back.
class ExtractedBeforeRestartTest : public ResumedInstallTest {
 protected:
  void BeforeMethods() override {
    ResumedInstallTest::BeforeMethods();
    unzip_ = base::MakeUniqueFolder(temp_);
    ASSERT_TRUE(::CreateDirectoryW((unzip_ + L"setup").c_str(), nullptr));
    PlaceInstaller(unzip_ + L"setup\\setup.exe");
    package_ = work_for_records_ + L"product.zip";
    const std::wstring extract_record = workflow::ExtractFoldersKey(settings_);
    ASSERT_TRUE(base::RegistryWriteValue(extract_record, package_ + workflow::kUnzipFolderSuffix, unzip_, false));
    ASSERT_TRUE(base::RegistryWriteValue(extract_record, package_ + workflow::kSetupFolderSuffix, unzip_ + L"setup",
                                         false));
    WriteRecord(L"folder", L"C:\\earlier");
    WriteRecord(L"guid", kEarlierGuid);  // and no launchOnExit: still complete
  }

  std::wstring unzip_;
  std::wstring package_;
};

TEST_F(ExtractedBeforeRestartTest, TheRestoredPackageIsInstalledWithTheEarlierGuidAndDeleted) {
  EXPECT_EQ(Prop(package_ + workflow::kUnzipFolderSuffix), unzip_) << "restored when the table was built";
  // The page keeps its own choice across the restart and sets it again.
  methods_->properties().SetProperty(workflow::kIsExtractInDownload, workflow::kTrue);

  EXPECT_EQ(InstallGivesGuid(package_), kEarlierGuid);
  EXPECT_EQ(ReadUtf16File(command_line_).compare(0, unzip_.size() + 17, L"\"" + unzip_ + L"setup\\setup.exe\""), 0);
  EXPECT_FALSE(Exists(unzip_)) << "the unzip folder goes after the install";
  EXPECT_EQ(RecordedGuid(), kEarlierGuid);
  EXPECT_TRUE(LogHasLine("Reset properties for Resume Mode"));

  ScriptArgs none;
  base::UniqueVariant mode;
  ASSERT_EQ(Call(L"getResumeMode", none, mode.Receive()), S_OK);
  EXPECT_EQ(mode.Get()->lVal, 2);
}

TEST_F(ResumedInstallTest, AnIncompleteOrMalformedRecordGivesANewGuid) {
  struct RecordCase {
    const char* what;
    const wchar_t* folder;  // null: not written
    std::wstring guid;
  };
  const RecordCase cases[] = {
      {"no folder", nullptr, kEarlierGuid},
      {"guid not of a GUID's shape", L"C:\\earlier", L"x\" TRANSFORMS=\"C:\\evil.mst"},
  };
  for (const RecordCase& c : cases) {
    SCOPED_TRACE(c.what);
    base::RegistryDeleteKey(record_, false);
    if (c.folder != nullptr) WriteRecord(L"folder", c.folder);
    WriteRecord(L"guid", c.guid);
    std::wstring given = InstallGivesGuid(installer_);
    EXPECT_TRUE(workflow::IsGuidText(given)) << base::ToAnsi(given);
    EXPECT_NE(given, kEarlierGuid);
    EXPECT_EQ(RecordedGuid(), given);
  }
}

}  // namespace
}  // namespace stubframework::workflow
