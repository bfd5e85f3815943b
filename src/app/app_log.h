// The run log: one text file per run in a temporary folder of its own.
#pragma once

#include <cstdarg>
#include <cstdio>
#include <string>

#include <windows.h>

#include "base/critical_section.h"
#include "base/log.h"
#include "base/log_link.h"
#include "base/unique_handle.h"

namespace stubframework::app {

using base::kLogDebug;
using base::kLogError;
using base::kLogNone;
using base::kLogTrace;
using base::kLogWarning;
using base::LogLink;

// The word written into a line of the given level ("" outside 0..4).
const char* LogLevelWord(int level);

// "[YYYYMMDD hh:mm:ss mmm WORD] " for the given UTC time.
std::string LogLinePrefix(const SYSTEMTIME& utc, int level);

class AppLog : public base::Log {
 public:
  // Creates the log's folder and opens its file. When either fails the log
  // drops every line and the program goes on.
  AppLog();
  virtual ~AppLog();
  AppLog(const AppLog&) = delete;
  AppLog& operator=(const AppLog&) = delete;

  void Write(int level, const wchar_t* format, va_list args) override;
  LogLink* NewLink() override;

  // Closes the file; later lines are dropped.
  void Close();

  // Copies the log file (as written so far) into `temporary_path` +
  // `folder_name` + "\" + its own name: the folder is made when missing, the
  // copy is new. False, copying nothing, when the folder or the copy's name is
  // a link or leads elsewhere, or a file of that name is already there.
  bool KeepCopyIn(const std::wstring& temporary_path, const std::wstring& folder_name) const;

  const std::wstring& path() const { return path_; }
  const std::wstring& folder() const { return folder_; }
  bool is_open() const { return file_ != nullptr; }

 private:
  std::wstring path_;
  std::wstring folder_;
  std::wstring folder_final_;       // the folder's path as its handle has it
  base::UniqueHandle held_folder_;  // keeps the folder in place while the log lives
  int max_level_ = kLogDebug;
  FILE* file_ = nullptr;
  // Workers write concurrently; a worker that the closing run gave up on
  // (Application::EndWorkers) may still write while the log is closed.
  base::CriticalSection lock_;
  // What the engine's loggers write through: cut when the log goes, so that
  // a request still closing then drops its lines instead of reaching here.
  LogLink* link_ = LogLink::Create(this);
};

}  // namespace stubframework::app
