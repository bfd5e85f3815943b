// Small helpers of the maintenance tests: build-tree paths as Windows sees
// them, whole files, and programs started and waited for.
#pragma once

#include <windows.h>

#include <string>

namespace maintenancetest {

// "/work/x" -> "Z:\work\x".
inline std::wstring WindowsPath(const char* unix_path) {
  std::wstring path = L"Z:";
  for (const char* c = unix_path; *c; ++c) path.push_back(*c == '/' ? L'\\' : static_cast<wchar_t>(*c));
  return path;
}

inline std::string ReadFileBytes(const std::wstring& path) {
  std::string bytes;
  HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return bytes;
  char buffer[65536];
  DWORD read = 0;
  while (::ReadFile(file, buffer, sizeof(buffer), &read, nullptr) && read > 0) bytes.append(buffer, read);
  ::CloseHandle(file);
  return bytes;
}

// Starts `command_line` as given (no application name, as the system starts
// a registered command) and waits up to two minutes; 0xFFFFFFFF when it could
// not be started.
inline DWORD RunAndWait(std::wstring command_line) {
  STARTUPINFOW startup = {sizeof(startup)};
  PROCESS_INFORMATION info = {};
  if (!::CreateProcessW(nullptr, command_line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
    return 0xFFFFFFFF;
  }
  ::WaitForSingleObject(info.hProcess, 120000);
  DWORD code = 0xFFFFFFFF;
  ::GetExitCodeProcess(info.hProcess, &code);
  ::CloseHandle(info.hProcess);
  ::CloseHandle(info.hThread);
  return code;
}

}  // namespace maintenancetest
