// A stand-in for a newer stub: appends its command line to the file named by
// STUB_RECORD_FILE and exits with STUB_RECORD_EXIT.
#include <windows.h>

#include <cstdlib>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  wchar_t path[MAX_PATH] = {};
  wchar_t exit_text[32] = {};
  GetEnvironmentVariableW(L"STUB_RECORD_FILE", path, MAX_PATH);
  GetEnvironmentVariableW(L"STUB_RECORD_EXIT", exit_text, 32);
  HANDLE file = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS, 0, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    const wchar_t* line = GetCommandLineW();
    DWORD written = 0;
    WriteFile(file, line, static_cast<DWORD>(wcslen(line) * sizeof(wchar_t)), &written, nullptr);
    WriteFile(file, L"\n", sizeof(wchar_t), &written, nullptr);
    CloseHandle(file);
  }
  return static_cast<int>(wcstoul(exit_text, nullptr, 10));
}
