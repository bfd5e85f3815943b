// Files and paths as the tests on the Linux side and the programs under Wine
// both see them.
#pragma once

#include <windows.h>

#include <cstdio>
#include <string>

namespace testsupport {

// "/work/x" (a build-tree path, UTF-8) -> "Z:\work\x".
inline std::wstring WindowsPathOf(const std::string& unix_path) {
  std::wstring path = L"Z:";
  int length = ::MultiByteToWideChar(CP_UTF8, 0, unix_path.data(), static_cast<int>(unix_path.size()), nullptr, 0);
  std::wstring wide(length, L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, unix_path.data(), static_cast<int>(unix_path.size()), wide.data(), length);
  for (wchar_t c : wide) path.push_back(c == L'/' ? L'\\' : c);
  return path;
}

// The whole file, read with sharing so that a log still being written can be
// read; empty when it cannot be opened.
inline std::string ReadWholeFile(const std::wstring& path) {
  std::string bytes;
  FILE* file = _wfopen(path.c_str(), L"rb");
  if (file == nullptr) return bytes;
  char chunk[65536];
  size_t n;
  while ((n = fread(chunk, 1, sizeof(chunk), file)) > 0) bytes.append(chunk, n);
  fclose(file);
  return bytes;
}

}  // namespace testsupport
