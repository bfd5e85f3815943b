#include "stub_runner.h"

#include <gtest/gtest.h>

#include "base/temp_folder.h"

namespace testsupport {

std::wstring StubPath() {
  std::string unix_path = STUB_EXE;
  std::wstring path = L"Z:";
  for (char c : unix_path) path.push_back(c == '/' ? L'\\' : static_cast<wchar_t>(c));
  return path;
}

DWORD RunAndWait(const std::wstring& exe, const std::wstring& arguments) {
  std::wstring command = L"\"" + exe + L"\" " + arguments;
  STARTUPINFOW si = {sizeof(si)};
  PROCESS_INFORMATION pi = {};
  if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
    ADD_FAILURE() << "CreateProcessW failed: " << GetLastError();
    return 0xFFFFFFFF;
  }
  CloseHandle(pi.hThread);
  for (;;) {
    DWORD wait = MsgWaitForMultipleObjects(1, &pi.hProcess, FALSE, 60000, QS_ALLINPUT);
    if (wait != WAIT_OBJECT_0 + 1) break;
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
  }
  DWORD code = 0xFFFFFFFF;
  GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hProcess);
  return code;
}

std::wstring EnterTempFolder() {
  std::wstring folder = stubframework::base::MakeUniqueFolder(stubframework::base::TemporaryPath());
  if (folder.empty()) return folder;
  SetEnvironmentVariableW(L"TMP", folder.c_str());
  SetEnvironmentVariableW(L"TEMP", folder.c_str());
  return folder;
}

void LeaveTempFolder(const std::wstring& folder) {
  SetEnvironmentVariableW(L"TMP", nullptr);
  SetEnvironmentVariableW(L"TEMP", nullptr);
  if (!folder.empty()) stubframework::base::DeleteFolderRecursive(folder);
}

void ClearProductSettings() { RegDeleteTreeW(HKEY_CURRENT_USER, L"SOFTWARE\\Brelvo\\stubframework\\Tessary"); }

std::vector<std::wstring> ListFolder(const std::wstring& folder) {
  std::vector<std::wstring> names;
  std::wstring pattern = folder;
  if (pattern.empty() || pattern.back() != L'\\') pattern += L'\\';
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW((pattern + L"*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return names;
  do {
    std::wstring name = data.cFileName;
    if (name != L"." && name != L"..") names.push_back(name);
  } while (FindNextFileW(find, &data));
  FindClose(find);
  return names;
}

bool PathExists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

}  // namespace testsupport
