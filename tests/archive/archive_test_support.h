// Shared helpers of the archive tests: fixture paths, scratch folders, a
// reporter that records what it is told.
#pragma once

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

#include "archive/archive_extract.h"
#include "base/temp_folder.h"
#include "base/unique_handle.h"
#include "archive/zip_reporter.h"

namespace testsupport::zip {

inline std::wstring Fixture(const std::wstring& name) { return std::wstring(STUB_ARCHIVE_FIXTURES) + L"\\" + name; }

inline bool Exists(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

inline std::string ReadBytes(const std::wstring& path) {
  stubframework::base::UniqueHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                                       nullptr, OPEN_EXISTING, 0, nullptr));
  std::string bytes;
  if (!file) return bytes;
  char buffer[65536];
  DWORD done = 0;
  while (::ReadFile(file.Get(), buffer, sizeof(buffer), &done, nullptr) && done > 0) bytes.append(buffer, done);
  return bytes;
}

inline bool WriteBytes(const std::wstring& path, const std::string& bytes) {
  stubframework::base::UniqueHandle file(
      ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  DWORD done = 0;
  return file && ::WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &done, nullptr) &&
         done == bytes.size();
}

// A fresh folder under base (the temporary folder by default), removed with
// everything in it at the end of the test.
class ScratchFolder {
 public:
  explicit ScratchFolder(const std::wstring& base = stubframework::base::TemporaryPath())
      : path_(stubframework::base::MakeUniqueFolder(stubframework::base::WithTrailingBackslash(base))) {}
  ~ScratchFolder() {
    if (!path_.empty()) stubframework::base::DeleteFolderRecursive(path_);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  // With a trailing backslash.
  const std::wstring& path() const { return path_; }

 private:
  std::wstring path_;
};

class RecordingReporter : public stubframework::archive::ZipReporter {
 public:
  void Progress(unsigned done, unsigned total) override { progress.emplace_back(done, total); }
  void Error(int code) override { errors.push_back(code); }
  std::vector<std::pair<unsigned, unsigned>> progress;
  std::vector<int> errors;
};

inline bool ExtractFile(const std::wstring& archive, const std::wstring& destination,
                        stubframework::archive::ZipReporter* reporter) {
  stubframework::base::UniqueHandle file(::CreateFileW(archive.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  return file && stubframework::archive::ExtractArchive(file.Get(), destination, reporter);
}

// The files of the page tree fixture, as the archive names them.
inline const std::vector<std::wstring>& TreeFiles() {
  static const std::vector<std::wstring> files = {
      L"Load.html",          L"common\\css\\style.css",  L"common\\img\\banner.png",
      L"config\\empty.js",   L"pages\\Welcome\\page.js", L"pages\\Welcome\\page.html",
  };
  return files;
}

}  // namespace testsupport::zip
