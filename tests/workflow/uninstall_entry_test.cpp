// setUninstallRegistryFromStub as the programs list then uses it: a probe
// program (a stub stand-in whose file name has a blank) registers itself; the
// entry's command lines are started exactly as the system starts them, and the
// started copy answers isUninstallModeLaunch.
#include <gtest/gtest.h>
#include <windows.h>
#include <shlobj.h>

#include <string>
#include <vector>

#include "base/temp_folder.h"
#include "support/process_support.h"

namespace {

using testsupport::ReadWholeFile;
using testsupport::RunAndWait;
using testsupport::WindowsPathOf;

constexpr wchar_t kProductCode[] = L"5D7F9A1B-3C5E-4F70-8A92-B4C6D8E0F213";
constexpr wchar_t kEntryKey[] =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{5D7F9A1B-3C5E-4F70-8A92-B4C6D8E0F213}";

struct Value {
  DWORD type = REG_NONE;
  std::wstring text;
  DWORD number = 0;
  bool operator==(const Value& other) const {
    return type == other.type && text == other.text && number == other.number;
  }
};

bool EntryExists(bool view64) {
  HKEY key = nullptr;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kEntryKey, 0, KEY_READ | (view64 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY),
                      &key) != ERROR_SUCCESS) {
    return false;
  }
  ::RegCloseKey(key);
  return true;
}

Value ReadValue(bool view64, const wchar_t* name) {
  Value value;
  HKEY key = nullptr;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kEntryKey, 0, KEY_READ | (view64 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY),
                      &key) != ERROR_SUCCESS) {
    return value;
  }
  std::vector<BYTE> data(4096);
  DWORD size = static_cast<DWORD>(data.size() - sizeof(wchar_t));
  LONG status = ::RegQueryValueExW(key, name, nullptr, &value.type, data.data(), &size);
  ::RegCloseKey(key);
  if (status != ERROR_SUCCESS) return value;
  if (value.type == REG_DWORD) {
    value.number = *reinterpret_cast<DWORD*>(data.data());
  } else {
    const wchar_t* text = reinterpret_cast<wchar_t*>(data.data());
    value.text.assign(text, wcsnlen(text, size / sizeof(wchar_t)));
  }
  return value;
}

class UninstallEntryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = stubframework::base::MakeUniqueFolder(stubframework::base::TemporaryPath());
    ASSERT_FALSE(root_.empty());
    // The probe's own run logs go here.
    ::SetEnvironmentVariableW(L"TMP", root_.c_str());
    ::SetEnvironmentVariableW(L"TEMP", root_.c_str());
    probe_ = root_ + L"Uninstall Probe.exe";
    ASSERT_TRUE(::CopyFileW(WindowsPathOf(LAUNCH_PROBE_EXE).c_str(), probe_.c_str(), FALSE));
    wchar_t app_data[MAX_PATH] = {};
    ASSERT_EQ(::SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, app_data), S_OK);
    folder_ = std::wstring(app_data) + L"\\Brelvo\\Tessary\\";
    copy_ = folder_ + L"Uninstall Probe.exe";
    decoy_ = folder_ + L"Uninstall.exe";
    record_ = root_ + L"record.txt";
    ::SetEnvironmentVariableW(L"STUB_RECORD_FILE", record_.c_str());
    RemoveEntry();
  }
  void TearDown() override {
    RemoveEntry();
    ::SetEnvironmentVariableW(L"STUB_RECORD_FILE", nullptr);
    ::SetEnvironmentVariableW(L"TMP", nullptr);
    ::SetEnvironmentVariableW(L"TEMP", nullptr);
    stubframework::base::DeleteFolderRecursive(root_);
  }
  void RemoveEntry() {
    ::RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kEntryKey, KEY_WOW64_64KEY, 0);
    ::RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kEntryKey, KEY_WOW64_32KEY, 0);
    ::DeleteFileW(copy_.c_str());
    ::DeleteFileW(decoy_.c_str());
  }
  DWORD Register(bool view64) {
    return RunAndWait(L"\"" + probe_ + L"\" register " + kProductCode + (view64 ? L" 1" : L" 0"));
  }
  // The lines the probe appended so far.
  std::wstring Record() {
    std::string bytes = ReadWholeFile(record_);
    return std::wstring(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
  }

  std::wstring root_, probe_, folder_, copy_, decoy_, record_;
};

TEST_F(UninstallEntryTest, EntryHoldsFourValuesInTheChosenViewOnly) {
  const std::wstring quoted = L"\"" + copy_ + L"\"";
  for (bool view64 : {true, false}) {
    SCOPED_TRACE(view64 ? "64-bit view" : "32-bit view");
    RemoveEntry();
    ASSERT_EQ(Register(view64), 0u);
    EXPECT_TRUE(EntryExists(view64));
    EXPECT_FALSE(EntryExists(!view64)) << "nothing in the other view";
    EXPECT_EQ(ReadValue(view64, L"UninstallString"), (Value{REG_EXPAND_SZ, quoted + L" /uninstall ", 0}));
    EXPECT_EQ(ReadValue(view64, L"ModifyPath"), (Value{REG_EXPAND_SZ, quoted + L" /modify ", 0}));
    EXPECT_EQ(ReadValue(view64, L"WindowsInstaller"), (Value{REG_DWORD, L"", 0}));
    EXPECT_EQ(ReadValue(view64, L"DisplayIcon"), (Value{REG_SZ, copy_, 0})) << "an icon path is not quoted";
    EXPECT_EQ(ReadWholeFile(copy_), ReadWholeFile(probe_)) << "the entry points at a copy of the running stub";
  }
}

// The copy's path has a blank (in its file name, as the common application
// data folder of older systems has in its own). Unquoted, the system would
// first try "...\Tessary\Uninstall.exe": a program put there (here a
// recorder that writes another line) would run instead of the stub.
TEST_F(UninstallEntryTest, TheSystemStartsTheCopyInUninstallOrModifyMode) {
  ASSERT_EQ(Register(true), 0u);
  ASSERT_TRUE(::CopyFileW(WindowsPathOf(ARG_RECORDER_EXE).c_str(), decoy_.c_str(), FALSE));
  ASSERT_EQ(RunAndWait(ReadValue(true, L"UninstallString").text), 0u);
  ASSERT_EQ(RunAndWait(ReadValue(true, L"ModifyPath").text), 0u);
  EXPECT_EQ(Record(), L"true|false|uninstall|uninstall|" + copy_ + L"\ntrue|false|modify|modify|" + copy_ + L"\n");
}

TEST_F(UninstallEntryTest, AStartWithoutModeOrWithUpdateZeroAnswersSo) {
  ASSERT_EQ(RunAndWait(L"\"" + probe_ + L"\" run=1"), 0u);
  ASSERT_EQ(RunAndWait(L"\"" + probe_ + L"\" run=1 UPDATE=0"), 0u);
  EXPECT_EQ(Record(), L"false|false|||" + probe_ + L"\nfalse|true|||" + probe_ + L"\n");
}

}  // namespace
