// The product built as "Qorvane" 7.3.0.1 by the publisher "Halvern Works",
// with its settings under HKCU\Software\Halvern Works\Setup, run under Wine:
// where the HTML document cannot be created it still extracts its bundle,
// writes its settings and keeps its log, each under the names it was built
// with and none under the default ones.
#include <gtest/gtest.h>
#include <windows.h>
#include <objbase.h>

#include <string>
#include <vector>

#include "base/temp_folder.h"
#include "base/unique_handle.h"

namespace stubframework {
namespace {

const wchar_t kSettingsKey[] = L"Software\\Halvern Works\\Setup\\Qorvane\\7";
const wchar_t kPublisherKey[] = L"Software\\Halvern Works";
const wchar_t kDefaultBaseKey[] = L"SOFTWARE\\Brelvo\\stubframework\\Qorvane";
// {25336920-03F9-11CF-8FD0-00AA00686F13}
const CLSID kClsidHtmlDocument = {0x25336920, 0x03F9, 0x11CF, {0x8F, 0xD0, 0x00, 0xAA, 0x00, 0x68, 0x6F, 0x13}};

std::wstring WindowsPath(const char* unix_path) {
  std::wstring path = L"Z:";
  for (const char* c = unix_path; *c != '\0'; ++c) path.push_back(*c == '/' ? L'\\' : static_cast<wchar_t>(*c));
  return path;
}

DWORD RunStub(const std::wstring& exe, const std::wstring& arguments) {
  std::wstring command = L"\"" + exe + L"\" " + arguments;
  STARTUPINFOW si = {sizeof(si)};
  PROCESS_INFORMATION pi = {};
  if (!::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
    ADD_FAILURE() << "CreateProcessW failed: " << ::GetLastError();
    return 0xFFFFFFFF;
  }
  base::UniqueHandle process(pi.hProcess);
  base::UniqueHandle thread(pi.hThread);
  if (::WaitForSingleObject(process.Get(), 60000) != WAIT_OBJECT_0) {
    ::TerminateProcess(process.Get(), 1);
    ADD_FAILURE() << "the stub did not end";
  }
  DWORD code = 0xFFFFFFFF;
  ::GetExitCodeProcess(process.Get(), &code);
  return code;
}

std::vector<std::wstring> ListFolder(const std::wstring& folder) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW data;
  base::UniqueFindHandle find(::FindFirstFileW((base::WithTrailingBackslash(folder) + L"*").c_str(), &data));
  if (!find) return names;
  do {
    std::wstring name = data.cFileName;
    if (name != L"." && name != L"..") names.push_back(name);
  } while (::FindNextFileW(find.Get(), &data));
  return names;
}

std::string ReadText(const std::wstring& path) {
  base::UniqueHandle file(
      ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  if (!file) return std::string();
  std::string text(::GetFileSize(file.Get(), nullptr), '\0');
  DWORD done = 0;
  ::ReadFile(file.Get(), text.data(), static_cast<DWORD>(text.size()), &done, nullptr);
  text.resize(done);
  return text;
}

std::wstring ReadValue(const wchar_t* key, const wchar_t* name) {
  wchar_t value[256] = {};
  DWORD bytes = sizeof(value);
  if (::RegGetValueW(HKEY_CURRENT_USER, key, name, RRF_RT_REG_SZ, nullptr, value, &bytes) != ERROR_SUCCESS) {
    return std::wstring();
  }
  return value;
}

bool KeyExists(const wchar_t* key) {
  base::UniqueHKey handle;
  return ::RegOpenKeyExW(HKEY_CURRENT_USER, key, 0, KEY_READ, handle.Receive()) == ERROR_SUCCESS;
}

bool HtmlDocumentAvailable() {
  ::CoInitialize(nullptr);
  IUnknown* document = nullptr;
  HRESULT hr = ::CoCreateInstance(kClsidHtmlDocument, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                  reinterpret_cast<void**>(&document));
  if (document != nullptr) document->Release();
  ::CoUninitialize();
  return SUCCEEDED(hr);
}

class IdentityRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    temp_ = base::MakeUniqueFolder(base::TemporaryPath());
    ASSERT_FALSE(temp_.empty());
    ::SetEnvironmentVariableW(L"TMP", temp_.c_str());
    ::SetEnvironmentVariableW(L"TEMP", temp_.c_str());
    ClearKeys();
  }
  void TearDown() override {
    ::SetEnvironmentVariableW(L"TMP", nullptr);
    ::SetEnvironmentVariableW(L"TEMP", nullptr);
    base::DeleteFolderRecursive(temp_);
    ClearKeys();
  }
  static void ClearKeys() {
    ::RegDeleteTreeW(HKEY_CURRENT_USER, kPublisherKey);
    ::RegDeleteTreeW(HKEY_CURRENT_USER, kDefaultBaseKey);
  }

  std::wstring temp_;
};

TEST_F(IdentityRunTest, SettingsKeyAndKeptLogFollowTheProductName) {
  if (HtmlDocumentAvailable()) GTEST_SKIP() << "the HTML document object exists here: the window would open";

  // No window, no stored self-update code: the exit code is the unset marker.
  EXPECT_EQ(RunStub(WindowsPath(IDENTITY_EXE), L"run=1"), 2147483647u);

  EXPECT_FALSE(ReadValue(kSettingsKey, L"install_language").empty())
      << "the language choice goes to the settings key of this build";
  EXPECT_FALSE(KeyExists(kDefaultBaseKey)) << "nothing under the default settings base";

  EXPECT_EQ(ListFolder(temp_), std::vector<std::wstring>{L"Qorvane_log"});
  std::vector<std::wstring> kept = ListFolder(temp_ + L"Qorvane_log");
  ASSERT_EQ(kept.size(), 1u);
  EXPECT_EQ(kept[0].rfind(L"installer_log_", 0), 0u);
  std::string log = ReadText(temp_ + L"Qorvane_log\\" + kept[0]);
  EXPECT_NE(log.find("load resource success, temporary folder path : "), std::string::npos) << log;
}

}  // namespace
}  // namespace stubframework
