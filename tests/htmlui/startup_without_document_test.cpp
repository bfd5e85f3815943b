// The product executable where the HTML document object cannot be created: the
// bundle is extracted, the window fails to open, and the run goes on to its
// closing steps with the status it had: an unmet environment, not a failure.
#include <gtest/gtest.h>
#include <windows.h>
#include <objbase.h>

#include <string>
#include <vector>

#include "app/settings_store.h"
#include "base/temp_folder.h"
#include "htmlui/document_guids.h"

namespace stubframework {
namespace {

const wchar_t kSettingsKey[] = L"HKEY_CURRENT_USER\\SOFTWARE\\Brelvo\\stubframework\\Tessary\\22";

std::wstring StubPath() {
  std::wstring path = L"Z:";
  for (char c : std::string(STUB_EXE)) path.push_back(c == '/' ? L'\\' : static_cast<wchar_t>(c));
  return path;
}

DWORD RunStub(const std::wstring& arguments) {
  std::wstring command = L"\"" + StubPath() + L"\" " + arguments;
  STARTUPINFOW si = {sizeof(si)};
  PROCESS_INFORMATION pi = {};
  if (!::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
    ADD_FAILURE() << "CreateProcessW failed: " << ::GetLastError();
    return 0xFFFFFFFF;
  }
  ::CloseHandle(pi.hThread);
  if (::WaitForSingleObject(pi.hProcess, 60000) != WAIT_OBJECT_0) {
    ::TerminateProcess(pi.hProcess, 1);
    ADD_FAILURE() << "the stub did not end";
  }
  DWORD code = 0xFFFFFFFF;
  ::GetExitCodeProcess(pi.hProcess, &code);
  ::CloseHandle(pi.hProcess);
  return code;
}

std::vector<std::wstring> ListFolder(const std::wstring& folder) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW data;
  HANDLE find = ::FindFirstFileW((base::WithTrailingBackslash(folder) + L"*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return names;
  do {
    std::wstring name = data.cFileName;
    if (name != L"." && name != L"..") names.push_back(name);
  } while (::FindNextFileW(find, &data));
  ::FindClose(find);
  return names;
}

std::string ReadText(const std::wstring& path) {
  HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return std::string();
  std::string text(::GetFileSize(file, nullptr), '\0');
  DWORD done = 0;
  ::ReadFile(file, text.data(), static_cast<DWORD>(text.size()), &done, nullptr);
  ::CloseHandle(file);
  text.resize(done);
  return text;
}

TEST(StartupWithoutDocumentTest, BundleIsExtractedTheWindowFailsAndTheStatusStaysEnvironmentNotMet) {
  ::CoInitialize(nullptr);
  IUnknown* document = nullptr;
  HRESULT hr = ::CoCreateInstance(htmlui::kClsidHtmlDocument, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                  reinterpret_cast<void**>(&document));
  if (document != nullptr) document->Release();
  ::CoUninitialize();
  if (SUCCEEDED(hr)) GTEST_SKIP() << "the HTML document object exists here: the window would open";

  std::wstring temp = base::MakeUniqueFolder(base::TemporaryPath());
  ASSERT_FALSE(temp.empty());
  ::SetEnvironmentVariableW(L"TMP", temp.c_str());
  ::SetEnvironmentVariableW(L"TEMP", temp.c_str());
  ::RegDeleteTreeW(HKEY_CURRENT_USER, L"SOFTWARE\\Brelvo\\stubframework\\Tessary");

  // No stored self-update code: the exit code is the unset marker.
  EXPECT_EQ(RunStub(L"run=1"), 2147483647u);

  // Status 4 from the start is left alone: not stored, and not 2 (a window
  // that cannot open is not a bundle that could not be extracted).
  std::wstring status;
  EXPECT_FALSE(app::ReadSetting(kSettingsKey, L"status", status)) << status;
  // The extraction folder went with the application; only the kept log stays.
  EXPECT_EQ(ListFolder(temp), std::vector<std::wstring>{L"Tessary_log"});
  std::vector<std::wstring> kept = ListFolder(temp + L"Tessary_log");
  ASSERT_EQ(kept.size(), 1u);
  std::string log = ReadText(temp + L"Tessary_log\\" + kept[0]);
  EXPECT_NE(log.find("load resource success, temporary folder path : "), std::string::npos) << log;
  EXPECT_NE(log.find("No window could be shown; status stays 4"), std::string::npos) << log;
  // Only a failed run (status 2) writes the property store to the log.
  EXPECT_EQ(log.find("Property resourceLocation: "), std::string::npos) << log;

  ::SetEnvironmentVariableW(L"TMP", nullptr);
  ::SetEnvironmentVariableW(L"TEMP", nullptr);
  base::DeleteFolderRecursive(temp);
  ::RegDeleteTreeW(HKEY_CURRENT_USER, L"SOFTWARE\\Brelvo\\stubframework\\Tessary");
}

}  // namespace
}  // namespace stubframework
