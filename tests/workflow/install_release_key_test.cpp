// install() with a release key: the package is proved against the signed
// .meta its verified download left beside it, through a handle that keeps it
// unchanged until the installer has ended. A package changed on disk after
// its download, or one without a signed .meta, is refused with Failure (4)
// and nothing runs.
#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "base/temp_folder.h"
#include "base/wide_format.h"
#include "workflow/download_properties.h"
#include "downloader/buffer.h"
#include "downloader/download_test_util.h"
#include "support/test_files.h"
#include "trust/test_release_key.h"
#include "utils/signed_meta.h"
#include "workflow/error_handle.h"
#include "workflow/install_support.h"

namespace stubframework::workflow {

using namespace testsupport::install;
namespace {

downloader::Buffer BufferOf(const std::string& bytes) {
  downloader::Buffer buffer;
  EXPECT_TRUE(buffer.SetSize(bytes.size()));
  std::copy(bytes.begin(), bytes.end(), buffer.data());
  return buffer;
}

void WriteBytes(const std::wstring& path, const std::string& bytes) {
  HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  DWORD written = 0;
  ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  ::CloseHandle(file);
}

class InstallReleaseKeyTest : public InstallFixture {
 public:  // the cases' table reaches them
  void BeforeMethods() override { app_->SetReleaseKey(release_.key()); }
  void SetUp() override {
    InstallFixture::SetUp();
    if (HasFatalFailure()) return;
    installer_ = work_ + L"installer.exe";
    record_ = work_ + L"command_line.txt";
    PlaceInstaller(installer_);
  }

  // What a verified download with a key leaves: the file's signed .meta beside it.
  void KeepSignedMeta(const std::wstring& path, const std::string& signature_over_meta_of = "") {
    const std::string bytes = testsupport::ReadWholeFile(path);
    const std::string meta = testsupport::MakeMeta(bytes);
    const std::string signed_meta = signature_over_meta_of.empty() ? meta : signature_over_meta_of;
    ASSERT_TRUE(utils::StoreSignedMeta(path, BufferOf(meta), BufferOf(release_.Sign(signed_meta))));
  }

  Calls InstallRecording(const std::wstring& file) { return Install(file, L"record=\"" + record_ + L"\""); }

  testsupport::TestReleaseKey release_;
  std::wstring installer_;
  std::wstring record_;
};

TEST_F(InstallReleaseKeyTest, APackageWithItsSignedMetaRuns) {
  KeepSignedMeta(installer_);
  Calls calls = InstallRecording(installer_);
  ASSERT_FALSE(calls.empty());
  EXPECT_EQ(calls.back()[0], workflow::kNoError);
  EXPECT_TRUE(Exists(record_)) << "the installer ran";
}

TEST_F(InstallReleaseKeyTest, WhatTheKeyDidNotVouchForIsRefusedAndNothingRuns) {
  struct Row {
    const char* what;
    void (*prepare)(InstallReleaseKeyTest& test);
  };
  const Row rows[] = {
      {"replaced on disk after its verified download",
       [](InstallReleaseKeyTest& t) {
         t.KeepSignedMeta(t.installer_);
         std::string bytes = testsupport::ReadWholeFile(t.installer_);
         bytes[bytes.size() / 2] ^= 0x20;
         WriteBytes(t.installer_, bytes);
       }},
      {"no .meta beside it (a plain download)", [](InstallReleaseKeyTest&) {}},
      {"a .meta whose signature is over another .meta",
       [](InstallReleaseKeyTest& t) { t.KeepSignedMeta(t.installer_, testsupport::MakeMeta("something else")); }},
      {"a .meta without its signature",
       [](InstallReleaseKeyTest& t) {
         t.KeepSignedMeta(t.installer_);
         ::DeleteFileW((t.installer_ + utils::kMetaSignatureSuffix).c_str());
       }},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    for (const wchar_t* suffix : {utils::kMetaSuffix, utils::kMetaSignatureSuffix}) {
      ::DeleteFileW((installer_ + suffix).c_str());
    }
    PlaceInstaller(installer_);
    row.prepare(*this);
    Calls calls = InstallRecording(installer_);
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.back()[0], workflow::kFailure);
    EXPECT_FALSE(Exists(record_)) << "the installer must not run";
  }
  EXPECT_NE(LogText().find("Install " + base::ToAnsi(installer_) + " refused: the file differs from its signed .meta"),
            std::string::npos);
  EXPECT_NE(LogText().find("Install " + base::ToAnsi(installer_) +
                           " refused: the file has no .meta signed with the release key beside it"),
            std::string::npos);
}

// The handle that proved the file keeps writers out until the installer ends:
// the stand-in, while it waits, finds its own file closed to writing.
TEST_F(InstallReleaseKeyTest, ThePackageCannotBeChangedWhileItsInstallerRuns) {
  KeepSignedMeta(installer_);
  bool write_refused = false;
  std::thread probe([&] {
    // The stand-in records its command line first: once it is there, it runs.
    for (int i = 0; i < 500 && !Exists(record_); ++i) ::Sleep(10);
    HANDLE writer = ::CreateFileW(installer_.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
    write_refused = writer == INVALID_HANDLE_VALUE && ::GetLastError() == ERROR_SHARING_VIOLATION;
    if (writer != INVALID_HANDLE_VALUE) ::CloseHandle(writer);
  });
  Calls calls = Install(installer_, L"record=\"" + record_ + L"\" delay=1500");
  probe.join();
  ASSERT_FALSE(calls.empty());
  EXPECT_EQ(calls.back()[0], workflow::kNoError);
  EXPECT_TRUE(write_refused);
  HANDLE writer = ::CreateFileW(installer_.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_NE(writer, INVALID_HANDLE_VALUE) << "released once the installer has ended";
  if (writer != INVALID_HANDLE_VALUE) ::CloseHandle(writer);
}

// What an extraction during the download left lay open to change until the
// install: with a key, the checked ZIP is extracted again and its own
// setup.exe runs; the earlier folder goes.
TEST_F(InstallReleaseKeyTest, AZipPackageRunsWhatItHoldsNotWhatAnEarlierExtractionLeft) {
  const std::wstring zip = work_ + L"fetched.zip";
  ASSERT_TRUE(::CopyFileW(BuildPath(NESTED_SETUP_ZIP).c_str(), zip.c_str(), FALSE));
  KeepSignedMeta(zip);
  const std::wstring earlier = base::MakeUniqueFolder(temp_);
  ASSERT_TRUE(::CreateDirectoryW((earlier + L"deep").c_str(), nullptr));
  PlaceInstaller(earlier + L"deep\\setup.exe");  // stands for a replaced program
  methods_->properties().SetProperty(workflow::kIsExtractInDownload, workflow::kTrue);
  methods_->properties().SetProperty(zip + workflow::kUnzipFolderSuffix, earlier);
  methods_->properties().SetProperty(zip + workflow::kSetupFolderSuffix, earlier + L"deep");

  Calls calls = InstallRecording(zip);
  ASSERT_FALSE(calls.empty());
  EXPECT_EQ(calls.back()[0], workflow::kNoError);
  const std::wstring recorded = ReadUtf16File(record_);
  EXPECT_EQ(recorded.find(earlier), std::wstring::npos) << "the earlier extraction's program ran";
  EXPECT_NE(recorded.find(L"\\package\\bin\\setup.exe"), std::wstring::npos) << base::ToAnsi(recorded);
  EXPECT_FALSE(Exists(earlier));
}

}  // namespace
}  // namespace stubframework::workflow
