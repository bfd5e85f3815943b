// Where a component writes its log lines. The run log implements it; code
// below the application takes a `Log*`, which may be null (nothing is written).
#pragma once

#include <cstdarg>

namespace stubframework::base {

class LogLink;

enum LogLevel : int {
  kLogNone = 0,
  kLogTrace = 1,
  kLogError = 2,
  kLogWarning = 3,
  kLogDebug = 4,
};

// A log line keeps at most this many characters of each text argument: one
// call with a huge argument cannot fill the disk.
inline constexpr int kMaxLoggedTextChars = 1024;

class Log {
 public:
  // One line of `level`, formatted with the runtime's wide printf rules.
  virtual void Write(int level, const wchar_t* format, va_list args) = 0;

  void Debug(const wchar_t* format, ...);
  void Error(const wchar_t* format, ...);
  void Trace(const wchar_t* format, ...);

  // A new reference to a link that outlives this log (log_link.h), for a
  // writer that may still write after the owner let go of the log; null when
  // the log has none, and then its owner keeps it for as long as any writer.
  virtual LogLink* NewLink() { return nullptr; }

 protected:
  ~Log() = default;
};

// The same entry points for a log that may be absent.
void LogDebug(Log* log, const wchar_t* format, ...);
void LogError(Log* log, const wchar_t* format, ...);
void LogTrace(Log* log, const wchar_t* format, ...);

}  // namespace stubframework::base
