// The closing steps of a run, in process: this test program carries no UI
// bundle, so the run shows no window and ends as a failed one.
#include <gtest/gtest.h>
#include <windows.h>

#include "app/application.h"
#include "app/product.h"
#include "app/settings_store.h"
#include "base/temp_folder.h"
#include "base/wide_format.h"
#include "stub_runner.h"

namespace stubframework::app {
namespace {

class ApplicationRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    temp_ = testsupport::EnterTempFolder();
    ASSERT_FALSE(temp_.empty());
    testsupport::ClearProductSettings();
    app_ = Application::Create();
    ASSERT_TRUE(app_);
  }
  void TearDown() override {
    app_.reset();
    testsupport::LeaveTempFolder(temp_);
    testsupport::ClearProductSettings();
  }

  std::wstring MakeFolderWithAFile(const wchar_t* name) { return MakeFolderWithAFileAt(temp_ + name); }
  static std::wstring MakeFolderWithAFileAt(const std::wstring& folder) {
    EXPECT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    HANDLE f = CreateFileW((folder + L"\\setup.exe").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    CloseHandle(f);
    return folder;
  }

  std::wstring temp_;
  std::unique_ptr<Application> app_;
};

TEST_F(ApplicationRunTest, RunEndDeletesEveryPackageUnzipFolderAndNothingElse) {
  std::wstring a = MakeFolderWithAFile(L"pkgA");
  std::wstring b = MakeFolderWithAFile(L"pkgB");
  std::wstring kept = MakeFolderWithAFile(L"kept");
  base::PropertyBag& props = app_->context().properties();
  props.Set(L"C:\\dl\\a.zip__ZIP_Unzip_Folder__", a);
  props.Set(L"__ZIP_Unzip_Folder__b", b);
  props.Set(L"C:\\dl\\a.zip__ZIP_EXE_Path__", kept);
  props.Set(L"somethingElse", kept);
  app_->Run();
  EXPECT_FALSE(testsupport::PathExists(a));
  EXPECT_FALSE(testsupport::PathExists(b));
  EXPECT_TRUE(testsupport::PathExists(kept + L"\\setup.exe"));
}

TEST_F(ApplicationRunTest, RunEndLeavesFoldersOutsideTheTemporaryAndDownloadFolders) {
  // Folders outside the temporary folder: one the page downloaded into, one not.
  const std::wstring downloads = base::MakeUniqueFolder(L"C:\\");
  const std::wstring outside = base::MakeUniqueFolder(L"C:\\");
  ASSERT_FALSE(downloads.empty());
  ASSERT_FALSE(outside.empty());
  const std::wstring unzipped = MakeFolderWithAFileAt(downloads + L"unzipped");
  const std::wstring victim = MakeFolderWithAFileAt(outside + L"pkg");
  ASSERT_TRUE(app_->download_folders()->Record(downloads + L"package.zip"));
  // temp_ followed by enough ".." to climb out of it: the text starts like a
  // folder below the temporary folder.
  std::wstring climb = temp_;
  for (wchar_t c : temp_.substr(3)) {
    if (c == L'\\') climb += L"..\\";
  }
  base::PropertyBag& props = app_->context().properties();
  props.Set(L"C:\\dl\\a.zip__ZIP_Unzip_Folder__", unzipped);
  props.Set(L"C:\\dl\\b.zip__ZIP_Unzip_Folder__", victim);
  props.Set(L"C:\\dl\\c.zip__ZIP_Unzip_Folder__", climb + outside.substr(3) + L"pkg");
  props.Set(L"C:\\dl\\d.zip__ZIP_Unzip_Folder__", downloads);
  props.Set(L"C:\\dl\\e.zip__ZIP_Unzip_Folder__", temp_);
  app_->Run();
  EXPECT_FALSE(testsupport::PathExists(unzipped)) << "below the folder a download wrote into";
  EXPECT_TRUE(testsupport::PathExists(victim + L"\\setup.exe"));
  EXPECT_TRUE(testsupport::PathExists(downloads));
  EXPECT_TRUE(testsupport::PathExists(temp_ + L"Tessary_log"));
  base::DeleteFolderRecursive(downloads);
  base::DeleteFolderRecursive(outside);
}

TEST_F(ApplicationRunTest, FailedRunWritesTheStoreToTheLogClosesItAndListsItForUpload) {
  app_->context().properties().Set(L"downloadUrl", L"http://127.0.0.1/x.zip");
  app_->Run();
  EXPECT_EQ(app_->context().Status(), kStatusError);
  std::wstring status;
  ASSERT_TRUE(ReadSetting(app_->context().settings_key(), L"status", status));
  EXPECT_EQ(status, L"2");
  EXPECT_FALSE(app_->log()->is_open()) << "closed before the upload";
  ASSERT_EQ(app_->analytics()->upload_files().size(), 1u);
  EXPECT_EQ(app_->analytics()->upload_files()[0], app_->log()->path());

  std::string log = testsupport::ReadWholeFile(app_->log()->path());
  size_t lines = 0;
  for (const auto& [name, value] : app_->context().properties().entries()) {
    std::string line = "DEBUG] Property " + base::ToAnsi(name) + ": " + base::ToAnsi(value) + "\r\n\r\n";
    EXPECT_NE(log.find(line), std::string::npos) << line;
    ++lines;
  }
  EXPECT_GE(lines, 3u);
  EXPECT_NE(log.find("Property downloadUrl: http://127.0.0.1/x.zip"), std::string::npos);

  // The kept copy is the log as closed.
  std::wstring copy = temp_ + L"Tessary_log\\" + app_->log()->path().substr(app_->log()->folder().size());
  EXPECT_EQ(testsupport::ReadWholeFile(copy), log);
}

TEST_F(ApplicationRunTest, DestructionRemovesTheLogFolderButNotItsCopy) {
  app_->Run();
  std::wstring folder = app_->log()->folder();
  std::wstring copy = temp_ + L"Tessary_log\\" + app_->log()->path().substr(folder.size());
  app_.reset();
  EXPECT_FALSE(testsupport::PathExists(folder));
  EXPECT_TRUE(testsupport::PathExists(copy));
}

TEST_F(ApplicationRunTest, LogEntryPointsDoNothingWithoutALog) {
  base::LogDebug(nullptr, L"ignored %d", 1);
  base::LogError(nullptr, L"ignored %s", L"x");
  base::LogDebug(app_->log(), L"written %d", 7);
  app_->log()->Close();
  EXPECT_NE(testsupport::ReadWholeFile(app_->log()->path()).find("DEBUG] written 7"), std::string::npos);
}

std::string LogOf(Application& app) {
  std::string text;
  HANDLE file = ::CreateFileW(app.log()->path().c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return text;
  char buffer[4096];
  DWORD read = 0;
  while (::ReadFile(file, buffer, sizeof(buffer), &read, nullptr) && read > 0) text.append(buffer, read);
  ::CloseHandle(file);
  return text;
}

size_t Count(const std::string& text, const std::string& what) {
  size_t count = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++count;
  return count;
}

// A stub built without a release key says so once per run; one with a key never.
TEST_F(ApplicationRunTest, ARunWithoutAReleaseKeySaysOnceThatMetasAreTheOnlyCheck) {
  const char kLine[] = "No release key: downloads are checked against their .meta only";
  static const unsigned char kAnyKey[] = {0x30, 0x00};
  const struct {
    const char* what;
    trust::ReleaseKey key;
    size_t lines;
  } rows[] = {
      // The keyed run first: two runs in one second may share a log file.
      {"a key", trust::ReleaseKey{kAnyKey, sizeof(kAnyKey)}, 0},
      {"no key", trust::ReleaseKey{}, 1},
  };
  for (const auto& row : rows) {
    if (!app_) app_ = Application::Create();
    ASSERT_TRUE(app_);
    app_->SetReleaseKey(row.key);
    app_->Run();
    EXPECT_EQ(Count(LogOf(*app_), kLine), row.lines) << row.what;
    app_.reset();
  }
}

// A worker that ignores the stop: it waits for the test, then writes to the
// log (closed by then: this run failed) and to the property store.
struct LateWorker {
  AppLog* log;
  base::PropertyBag* store;
  HANDLE go;
  HANDLE done;
};
DWORD WINAPI LateWorkerThread(void* parameter) {
  auto* job = static_cast<LateWorker*>(parameter);
  ::WaitForSingleObject(job->go, INFINITE);
  base::LogDebug(job->log, L"late worker still writes");
  job->store->Set(L"lateWorker", L"wrote");
  ::SetEvent(job->done);
  return 0;
}

TEST_F(ApplicationRunTest, AWorkerThatOutlivesTheJoinIsLoggedAndWhatItUsesIsKept) {
  base::UniqueHandle go(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  base::UniqueHandle done(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  LateWorker job{app_->log(), &app_->context().properties(), go.Get(), done.Get()};
  ASSERT_TRUE(app_->run_state().workers().Start(LateWorkerThread, &job));
  const std::wstring log_path = app_->log()->path();
  const DWORD start = ::GetTickCount();
  app_->Run();
  EXPECT_GE(::GetTickCount() - start + 20, kWorkerJoinLimitMs) << "the run waited the whole limit";
  EXPECT_EQ(app_->workers_left(), 1u);
  app_.reset();
  // A freed log would have deleted its file with its folder.
  EXPECT_TRUE(testsupport::PathExists(log_path)) << "the log is kept for the worker";
  const std::string log = testsupport::ReadWholeFile(log_path);
  EXPECT_NE(log.find(base::ToAnsi(base::Format(L"ERROR] 1 worker(s) still running %u ms after the stop; what they "
                                               L"use is kept",
                                               static_cast<unsigned>(kWorkerJoinLimitMs)))),
            std::string::npos)
      << log;

  ::SetEvent(go.Get());
  ASSERT_EQ(::WaitForSingleObject(done.Get(), 10000), static_cast<DWORD>(WAIT_OBJECT_0)) << "the worker ran to its end";
  EXPECT_EQ(job.store->Get(L"lateWorker"), L"wrote");
}

}  // namespace
}  // namespace stubframework::app
