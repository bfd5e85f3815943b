// Runs the product executable under Wine and checks what a run leaves behind.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "app/product.h"
#include "app/settings_store.h"
#include "base/temp_folder.h"
#include "htmlui/host_window.h"
#include "stub_runner.h"

namespace stubframework::app {
namespace {

using testsupport::ListFolder;
using testsupport::StubPath;

DWORD RunStubAndWait(const std::wstring& arguments) { return testsupport::RunAndWait(StubPath(), arguments); }

const wchar_t kSettingsKey[] = L"HKEY_CURRENT_USER\\SOFTWARE\\Brelvo\\stubframework\\Tessary\\22";

// Each run gets a temporary folder of its own (inherited through TMP/TEMP) and
// a settings key without a stored self-update code.
class StartupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    temp_ = testsupport::EnterTempFolder();
    ASSERT_FALSE(temp_.empty());
    testsupport::ClearProductSettings();
  }
  void TearDown() override {
    testsupport::LeaveTempFolder(temp_);
    testsupport::ClearProductSettings();
  }

  std::wstring temp_;
};

TEST_F(StartupTest, CleanPrefixExitsWithTheUnsetMarkerAndKeepsOnlyTheLogCopy) {
  EXPECT_EQ(RunStubAndWait(L"run=1"), 2147483647u);

  // Only the kept copy remains: the log's own folder went with the application.
  EXPECT_EQ(ListFolder(temp_), std::vector<std::wstring>{L"Tessary_log"});
  std::vector<std::wstring> kept = ListFolder(temp_ + L"Tessary_log");
  ASSERT_EQ(kept.size(), 1u);
  EXPECT_EQ(kept[0].rfind(L"installer_log_", 0), 0u);
  std::string log = testsupport::ReadWholeFile(temp_ + L"Tessary_log\\" + kept[0]);
  // Without a window (no document object under Wine) the status stays 4, as
  // set at start: an unmet environment is no failed run, so no store dump.
  EXPECT_NE(log.find("ERROR] No window could be shown; status stays 4"), std::string::npos) << log;
  EXPECT_EQ(log.find("DEBUG] Property osbits: "), std::string::npos) << log;

  std::wstring status;
  EXPECT_FALSE(ReadSetting(kSettingsKey, L"status", status)) << "a status of 4 is left alone, got " << status;
  std::wstring language;
  EXPECT_TRUE(ReadSetting(kSettingsKey, L"install_language", language));
}

TEST_F(StartupTest, ResumedRunDeletesOnlyTheRecordedPackageFoldersItUnpackedInto) {
  // The record of extracted packages lives under HKCU, where any program the
  // user runs can write it: only folders this program unpacked into (unique
  // folders in the temporary folder) are taken from it.
  const std::wstring outside = base::MakeUniqueFolder(L"C:\\");
  ASSERT_FALSE(outside.empty());
  const std::wstring ours = base::MakeUniqueFolder(temp_);
  ASSERT_FALSE(ours.empty());
  ASSERT_TRUE(CreateDirectoryW((temp_ + L"pkg").c_str(), nullptr));
  for (const std::wstring& file : {outside + L"keep.txt", temp_ + L"pkg\\setup.exe", ours + L"setup.exe"}) {
    HANDLE f = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(f, INVALID_HANDLE_VALUE) << file;
    CloseHandle(f);
  }
  const std::wstring record = std::wstring(kSettingsKey) + L"\\ResumeRecord\\ExtractFolders";
  ASSERT_TRUE(WriteSetting(record, L"C:\\dl\\a.zip__ZIP_Unzip_Folder__", outside));
  ASSERT_TRUE(WriteSetting(record, L"C:\\dl\\b.zip__ZIP_Unzip_Folder__", temp_ + L"pkg\\"));
  ASSERT_TRUE(WriteSetting(record, L"C:\\dl\\c.zip__ZIP_Unzip_Folder__", ours));

  EXPECT_EQ(RunStubAndWait(L"run=1 RESUME=INSTALLING"), 2147483647u);
  EXPECT_TRUE(testsupport::PathExists(outside + L"keep.txt"));
  EXPECT_TRUE(testsupport::PathExists(temp_ + L"pkg\\setup.exe")) << "a folder of another name is not ours to delete";
  EXPECT_FALSE(testsupport::PathExists(ours));
  base::DeleteFolderRecursive(outside);
}

TEST_F(StartupTest, StoredSelfUpdateCodeBecomesTheExitCode) {
  ASSERT_TRUE(WriteSetting(kSettingsKey, L"selfupdate_code", L"197800"));
  EXPECT_EQ(RunStubAndWait(L"run=1"), 197800u);
  ASSERT_TRUE(WriteSetting(kSettingsKey, L"selfupdate_code", L"42"));
  EXPECT_EQ(RunStubAndWait(L"run=1"), 42u);
}

TEST_F(StartupTest, RunsWithoutALogWhenTheTemporaryFolderIsUnusable) {
  SetEnvironmentVariableW(L"TMP", L"C:\\no\\such\\temp");
  SetEnvironmentVariableW(L"TEMP", L"C:\\no\\such\\temp");
  EXPECT_EQ(RunStubAndWait(L"run=1"), 2147483647u);
  std::wstring status;
  ASSERT_TRUE(ReadSetting(kSettingsKey, L"status", status));
  EXPECT_EQ(status, L"2");
}

LRESULT CALLBACK PlainWindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  return DefWindowProcW(hwnd, msg, wp, lp);
}

TEST_F(StartupTest, SecondInstanceRestoresTheRunningWindowAndExitsWithZero) {
  HANDLE mutex = CreateMutexW(nullptr, FALSE, kInstanceMutexName);
  ASSERT_NE(mutex, nullptr);
  WNDCLASSW wc = {};
  wc.lpfnWndProc = PlainWindowProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = htmlui::kWindowClassName;
  ASSERT_NE(RegisterClassW(&wc), 0);
  HWND window = CreateWindowExW(0, htmlui::kWindowClassName, L"running instance", WS_OVERLAPPEDWINDOW, 0, 0, 300, 200,
                                nullptr, nullptr, wc.hInstance, nullptr);
  ASSERT_NE(window, nullptr);
  ShowWindow(window, SW_MINIMIZE);
  ASSERT_TRUE(IsIconic(window));

  EXPECT_EQ(RunStubAndWait(L"run=1"), 0u);
  EXPECT_FALSE(IsIconic(window)) << "the running instance's window is restored";
  EXPECT_TRUE(ListFolder(temp_).empty()) << "a second instance builds nothing, not even a log";

  DestroyWindow(window);
  UnregisterClassW(htmlui::kWindowClassName, wc.hInstance);
  CloseHandle(mutex);
}

}  // namespace
}  // namespace stubframework::app

namespace stubframework::app {
namespace {

using testsupport::StubPath;

struct LoadedImage {
  HMODULE module;
  explicit LoadedImage(const std::wstring& path)
      : module(LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE)) {}
  ~LoadedImage() {
    if (module) FreeLibrary(module);
  }
};

std::string ResourceText(HMODULE module, LPCWSTR type, LPCWSTR name) {
  HRSRC res = FindResourceW(module, name, type);
  if (!res) return std::string();
  const char* data = static_cast<const char*>(LockResource(LoadResource(module, res)));
  return data ? std::string(data, SizeofResource(module, res)) : std::string();
}

TEST(ExecutableTest, CarriesTheManifestAndASevenSizeIcon) {
  LoadedImage image(StubPath());
  ASSERT_NE(image.module, nullptr);
  std::string manifest = ResourceText(image.module, RT_MANIFEST, MAKEINTRESOURCEW(1));
  EXPECT_NE(manifest.find(R"(level="requireAdministrator")"), std::string::npos);
  EXPECT_NE(manifest.find(R"(uiAccess="false")"), std::string::npos);
  EXPECT_NE(manifest.find("<dpiAware"), std::string::npos);
  EXPECT_NE(manifest.find(R"(name="Microsoft.Windows.Common-Controls" version="6.0.0.0")"), std::string::npos);
  for (const char* os : {"e2011457-1546-43c5-a5fe-008deee3d3f0", "35138b9a-5d96-4fbd-8e2d-a2440225f93a",
                         "4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38", "1f676c76-80e1-4239-95bb-83d0f6d0da78",
                         "8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a"}) {
    EXPECT_NE(manifest.find(os), std::string::npos) << os;
  }
  // GRPICONDIR: reserved, type 1, count.
  std::string group = ResourceText(image.module, RT_GROUP_ICON, MAKEINTRESOURCEW(1));
  ASSERT_GE(group.size(), 6u);
  EXPECT_EQ(static_cast<unsigned char>(group[4]), 7);
}

}  // namespace
}  // namespace stubframework::app
