// The newer stub of the self-update test: the product's entry sequence, after
// appending its command line (and a newline) to the file named by
// STUB_RECORD_FILE, so that a test sees every way the launcher starts it.
#include <windows.h>

#include <cwchar>

#include "app/application.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  wchar_t path[MAX_PATH] = {};
  if (GetEnvironmentVariableW(L"STUB_RECORD_FILE", path, MAX_PATH) > 0) {
    HANDLE file =
        CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS, 0, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      const wchar_t* line = GetCommandLineW();
      DWORD written = 0;
      WriteFile(file, line, static_cast<DWORD>(wcslen(line) * sizeof(wchar_t)), &written, nullptr);
      WriteFile(file, L"\n", sizeof(wchar_t), &written, nullptr);
      CloseHandle(file);
    }
  }
  return stubframework::app::RunStub();
}
