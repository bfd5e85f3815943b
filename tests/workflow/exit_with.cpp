// A stand-in installer for the install worker's tests. Arguments it reads:
//   record=PATH  writes its own command line (UTF-16) to PATH first
//   delay=MS     then sleeps that long
//   exit=N       then ends with exit code N (0 when absent; the full 32 bits)
// Every other argument is ignored, as an installer ignores what it does not know.
#include <windows.h>
#include <shellapi.h>

#include <cwchar>
#include <string>

namespace {

bool Value(const wchar_t* arg, const wchar_t* name, std::wstring* value) {
  size_t length = wcslen(name);
  if (_wcsnicmp(arg, name, length) != 0) return false;
  *value = arg + length;
  return true;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  int count = 0;
  LPWSTR* args = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  std::wstring record;
  std::wstring value;
  DWORD delay = 0;
  DWORD code = 0;
  for (int i = 1; args != nullptr && i < count; ++i) {
    if (Value(args[i], L"record=", &value)) record = value;
    if (Value(args[i], L"delay=", &value)) delay = wcstoul(value.c_str(), nullptr, 10);
    if (Value(args[i], L"exit=", &value)) code = wcstoul(value.c_str(), nullptr, 10);
  }
  if (!record.empty()) {
    HANDLE file = ::CreateFileW(record.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      const wchar_t* line = ::GetCommandLineW();
      DWORD written = 0;
      ::WriteFile(file, line, static_cast<DWORD>(wcslen(line) * sizeof(wchar_t)), &written, nullptr);
      ::CloseHandle(file);
    }
  }
  ::Sleep(delay);
  return static_cast<int>(code);
}
