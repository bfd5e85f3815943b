// Resuming after a restart: the RunOnce entry written and removed by the
// script methods, the resume-manager record as the install worker reads it,
// and the pending-restart marker.
#include <gtest/gtest.h>
#include <windows.h>
#include <shlobj.h>

#include <string>
#include <vector>

#include "base/registry.h"
#include "base/unique_handle.h"
#include "base/wide_format.h"
#include "workflow/install_support.h"
#include "sysinfo/pending_restart.h"
#include "workflow/resume_manager.h"
#include "workflow/run_once.h"
#include "workflow/self_update.h"
#include "workflow/uninstall_entry.h"

namespace stubframework::workflow {

using namespace testsupport::install;
namespace {

using testsupport::ScriptArgs;

constexpr wchar_t kRunOnceSubkey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
// With the built-in product id and version.
constexpr wchar_t kRunOnceName[] = L"Tessary_22";

// The entry's data in one registry view; false when absent.
bool ReadRunOnce(REGSAM view, std::wstring* data) {
  base::UniqueHKey key;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kRunOnceSubkey, 0, KEY_QUERY_VALUE | view, key.Receive()) != ERROR_SUCCESS) {
    return false;
  }
  wchar_t buffer[512] = {};
  DWORD bytes = sizeof(buffer) - sizeof(wchar_t);
  DWORD type = 0;
  if (::RegQueryValueExW(key.Get(), kRunOnceName, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &bytes) !=
          ERROR_SUCCESS ||
      type != REG_SZ) {
    return false;
  }
  *data = buffer;
  return true;
}

std::wstring ProtectedCopy(const std::wstring& name) {
  wchar_t app_data[MAX_PATH] = {};
  ::SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, app_data);
  return workflow::StubCopyFolder(app_data, L"Tessary") + name;
}

std::string ReadBytes(const std::wstring& path) {
  std::string bytes;
  HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                              nullptr);
  if (file == INVALID_HANDLE_VALUE) return bytes;
  char piece[65536];
  DWORD read = 0;
  while (::ReadFile(file, piece, sizeof(piece), &read, nullptr) && read > 0) bytes.append(piece, read);
  ::CloseHandle(file);
  return bytes;
}

class ResumeMethodsTest : public InstallFixture {
 protected:
  void TearDown() override {
    workflow::DeleteRunOnce(kRunOnceName);
    InstallFixture::TearDown();
  }
  HRESULT RunAfterReboot(const wchar_t* mode) {
    ScriptArgs args;
    args.Text(mode);
    return Call(L"runAfterReboot", args);
  }
  HRESULT UndoRunAfterReboot() {
    ScriptArgs none;
    return Call(L"undoRunAfterReboot", none);
  }
};

// The entry runs elevated at the next logon: it names a copy of the running
// image in the protected all-users folder, under the user's file name, never
// the user's own file.
TEST_F(ResumeMethodsTest, RunAfterRebootRegistersAProtectedCopyInThe64BitRunOnceKeyAndUndoRemovesIt) {
  host_->stub = L"C:\\Users\\Someone\\Down loads\\TessarySetup.exe";
  EXPECT_EQ(RunAfterReboot(L"INSTALLING"), S_OK);
  std::wstring data;
  ASSERT_TRUE(ReadRunOnce(KEY_WOW64_64KEY, &data));
  const std::wstring copy = ProtectedCopy(L"TessarySetup.exe");
  EXPECT_EQ(data, L"\"" + copy + L"\" RESUME=INSTALLING");
  EXPECT_EQ(ReadBytes(copy), ReadBytes(workflow::RunningExecutablePath())) << "the copy is the running image";
  EXPECT_FALSE(ReadRunOnce(KEY_WOW64_32KEY, &data)) << "the 32-bit view is another key on a 64-bit system";
  EXPECT_TRUE(LogHasLine("EMRunAfterReboot INSTALLING")) << LogText();

  EXPECT_EQ(UndoRunAfterReboot(), S_OK);
  EXPECT_FALSE(ReadRunOnce(KEY_WOW64_64KEY, &data));
  EXPECT_EQ(UndoRunAfterReboot(), S_OK) << "nothing to remove is no failure";
  ::DeleteFileW(copy.c_str());
}

TEST_F(ResumeMethodsTest, WithoutAShortcutArgumentTheCopyTakesTheRunningImagesName) {
  EXPECT_EQ(RunAfterReboot(L"downloading"), S_OK);
  std::wstring data;
  ASSERT_TRUE(ReadRunOnce(KEY_WOW64_64KEY, &data));
  const std::wstring running = workflow::RunningExecutablePath();
  const std::wstring copy = ProtectedCopy(running.substr(running.find_last_of(L'\\') + 1));
  EXPECT_EQ(data, L"\"" + copy + L"\" RESUME=DOWNLOADING");
  ::DeleteFileW(copy.c_str());
}

TEST_F(ResumeMethodsTest, ModeTextOtherThanTheTwoResumeModesWritesNoEntry) {
  for (const wchar_t* mode : {L"", L"NONE", L"INSTALLING shortcut=C:\\x.exe", L"INSTALLINGX"}) {
    EXPECT_EQ(RunAfterReboot(mode), S_OK) << "always succeeds";
    std::wstring data;
    EXPECT_FALSE(ReadRunOnce(KEY_WOW64_64KEY, &data)) << base::ToAnsi(mode) << " wrote " << base::ToAnsi(data);
  }
}

TEST_F(ResumeMethodsTest, ANormalRunHasNoResumeMode) {
  ScriptArgs none;
  base::UniqueVariant mode;
  ASSERT_EQ(Call(L"getResumeMode", none, mode.Receive()), S_OK);
  EXPECT_EQ(mode.Get()->vt, VT_I4);
  EXPECT_EQ(mode.Get()->lVal, 0);
}

// The record under a settings key of the test's own.
class ResumeManagerRecordTest : public ::testing::Test {
 protected:
  void SetUp() override { Clear(); }
  void TearDown() override {
    Clear();
    ::RegDeleteTreeW(HKEY_CURRENT_USER, L"SOFTWARE\\StubTests");
  }
  void Clear() {
    base::RegistryDeleteKey(workflow::ResumeManagerKey(kSettings) + L"\\child", false);
    base::RegistryDeleteKey(workflow::ResumeManagerKey(kSettings), false);
  }
  void Write(const wchar_t* name, const wchar_t* value) {
    ASSERT_TRUE(base::RegistryWriteValue(workflow::ResumeManagerKey(kSettings), name, value, false));
  }

  static constexpr wchar_t kSettings[] = L"HKEY_CURRENT_USER\\SOFTWARE\\StubTests\\ResumeManager\\1";
};

struct RecordCase {
  const char* what;
  std::vector<std::pair<const wchar_t*, const wchar_t*>> values;
  bool complete;
  std::vector<std::wstring> temp_folders;
};

TEST_F(ResumeManagerRecordTest, CompletenessNeedsFolderThenGuidAndTempFoldersStopAtTheFirstGap) {
  const wchar_t* guid = L"0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0";
  const RecordCase cases[] = {
      {"whole", {{L"folder", L"C:\\f"}, {L"guid", guid}, {L"launchOnExit", L"\"C:\\a.exe\""},
                 {L"tempfolder0", L"C:\\t0"}, {L"tempfolder1", L"C:\\t1"}, {L"tempfolder3", L"C:\\t3"}},
       true, {L"C:\\t0", L"C:\\t1"}},
      {"without launchOnExit", {{L"folder", L"C:\\f"}, {L"guid", guid}}, true, {}},
      {"without folder", {{L"guid", guid}, {L"tempfolder0", L"C:\\t0"}}, false, {}},
      {"without guid", {{L"folder", L"C:\\f"}, {L"tempfolder0", L"C:\\t0"}}, false, {}},
      {"empty", {}, false, {}},
  };
  for (const RecordCase& c : cases) {
    SCOPED_TRACE(c.what);
    Clear();
    for (const auto& [name, value] : c.values) Write(name, value);
    workflow::ResumeManagerRecord record = workflow::OpenResumeManagerRecord(kSettings, true);
    EXPECT_EQ(record.complete, c.complete);
    EXPECT_EQ(record.temp_folders, c.temp_folders);
    if (c.complete) {
      EXPECT_EQ(record.folder, L"C:\\f");
      EXPECT_EQ(record.guid, guid);
    }
  }
}

TEST_F(ResumeManagerRecordTest, ANumberedFolderListIsReadOnlyUpToItsBound) {
  Write(L"folder", L"C:\\f");
  Write(L"guid", L"0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0");
  for (size_t i = 0; i <= workflow::kMaxResumeTempFolders; ++i) {
    Write(base::Format(L"tempfolder%u", static_cast<unsigned>(i)).c_str(), L"C:\\t");
  }
  EXPECT_EQ(workflow::ReadResumeManagerRecord(kSettings).temp_folders.size(), workflow::kMaxResumeTempFolders);
}

TEST_F(ResumeManagerRecordTest, AFreshRunDeletesTheRecordUnlessItHasSubkeys) {
  Write(L"guid", L"0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0");
  Write(L"folder", L"C:\\f");
  EXPECT_FALSE(workflow::OpenResumeManagerRecord(kSettings, false).complete) << "nothing is read";
  std::wstring value;
  EXPECT_FALSE(base::RegistryReadValue(workflow::ResumeManagerKey(kSettings), L"guid", value));

  Write(L"guid", L"0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0");
  ASSERT_TRUE(base::RegistryWriteValue(workflow::ResumeManagerKey(kSettings) + L"\\child", L"x", L"y", false));
  workflow::OpenResumeManagerRecord(kSettings, false);
  EXPECT_TRUE(base::RegistryReadValue(workflow::ResumeManagerKey(kSettings), L"guid", value)) << "left in place";
}

class PendingRestartTest : public ::testing::Test {
 protected:
  void SetUp() override { Clear(); }
  void TearDown() override { Clear(); }
  static void Clear() { ::RegDeleteKeyW(HKEY_CURRENT_USER, sysinfo::kPendingRestartKey); }
  static void Set(DWORD type, const void* data, DWORD bytes) {
    ASSERT_EQ(::RegSetKeyValueW(HKEY_CURRENT_USER, sysinfo::kPendingRestartKey, sysinfo::kPendingRestartValue, type,
                                data, bytes),
              ERROR_SUCCESS);
  }
  static void SetText(const wchar_t* text) {
    Set(REG_SZ, text, static_cast<DWORD>((wcslen(text) + 1) * sizeof(wchar_t)));
  }
};

TEST_F(PendingRestartTest, OnlyTheTextOneMeansARestartIsPending) {
  EXPECT_FALSE(sysinfo::IsRestartPending()) << "no key";
  struct TextCase {
    const wchar_t* text;
    bool pending;
  };
  for (const TextCase& c : {TextCase{L"1", true}, TextCase{L"true", false}, TextCase{L"11", false},
                            TextCase{L"0", false}, TextCase{L"", false}, TextCase{L" 1", false}}) {
    SetText(c.text);
    EXPECT_EQ(sysinfo::IsRestartPending(), c.pending) << base::ToAnsi(c.text);
  }
  DWORD one = 1;
  Set(REG_DWORD, &one, sizeof(one));
  EXPECT_FALSE(sysinfo::IsRestartPending()) << "a number is not the text 1";
  Set(REG_SZ, L"1", sizeof(wchar_t));  // stored without its terminator
  EXPECT_TRUE(sysinfo::IsRestartPending());
}

TEST_F(PendingRestartTest, RemovalAnswersWhetherTheMarkerWasThere) {
  EXPECT_FALSE(sysinfo::RemovePendingRestart()) << "no key";
  SetText(L"1");
  EXPECT_TRUE(sysinfo::RemovePendingRestart());
  EXPECT_FALSE(sysinfo::IsRestartPending());
  EXPECT_FALSE(sysinfo::RemovePendingRestart()) << "the key stays, the value is gone";
}

}  // namespace
}  // namespace stubframework::workflow
