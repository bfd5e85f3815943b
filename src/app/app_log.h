// The run log: one text file per run in a temporary folder of its own.
#pragma once

#include <cstdarg>
#include <cstdio>
#include <string>

#include <windows.h>

#include "base/critical_section.h"

namespace stubframework::debug {

enum LogLevel : int {
  kLogNone = 0,
  kLogTrace = 1,
  kLogError = 2,
  kLogWarning = 3,
  kLogDebug = 4,
};

// The word written into a line of the given level ("" outside 0..4).
const char* LogLevelWord(int level);

// "[YYYYMMDD hh:mm:ss mmm WORD] " for the given UTC time.
std::string LogLinePrefix(const SYSTEMTIME& utc, int level);

class AppLog {
 public:
  // Creates the log's folder and opens its file. When either fails the log
  // drops every line and the program goes on.
  AppLog();
  ~AppLog();
  AppLog(const AppLog&) = delete;
  AppLog& operator=(const AppLog&) = delete;

  void Write(int level, const wchar_t* format, va_list args);
  void Debug(const wchar_t* format, ...);
  void Error(const wchar_t* format, ...);
  void Trace(const wchar_t* format, ...);

  // Closes the file; later lines are dropped.
  void Close();

  const std::wstring& path() const { return path_; }
  const std::wstring& folder() const { return folder_; }
  bool is_open() const { return file_ != nullptr; }

 private:
  std::wstring path_;
  std::wstring folder_;
  int max_level_ = kLogDebug;
  FILE* file_ = nullptr;
  // Closing at the end of a run may meet a worker that still writes.
  utils::CriticalSection lock_;
};

}  // namespace stubframework::debug
