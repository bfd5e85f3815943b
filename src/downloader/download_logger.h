// The engine's logger: writes engine lines into the run log at trace level.
#pragma once

#include "base/log.h"
#include "base/log_link.h"
#include "downloader/interfaces.h"

namespace stubframework::downloader {


// Each message is cut to this many characters, the terminator included.
inline constexpr size_t kDownloadLogMessageSize = 1024;

// The message of one Log call, formatted and cut to 1023 characters.
std::wstring FormatDownloadLogMessage(const wchar_t* format, va_list args);

// A task may write after the code that started it has returned (a request
// closed on a pool thread): the logger writes through the log's link when the
// log has one, and so never reaches a log its owner has let go.
class DownloadLogger : public ILogger {
 public:
  explicit DownloadLogger(base::Log* log);
  ~DownloadLogger();
  DownloadLogger(const DownloadLogger&) = delete;
  DownloadLogger& operator=(const DownloadLogger&) = delete;
  void Log(const wchar_t* context, const wchar_t* format, ...) override;

 private:
  base::LogLink* link_;  // a reference; null when the log has no link
  base::Log* log_;       // the link, else the log itself
};

// A logger bound to `log`, or one that drops every line when `log` is null.
// A log without a link (base::Log::NewLink) must outlive every task given
// the logger. Null only when memory is missing. The caller owns the one
// reference.
ILogger* CreateDownloadLogger(base::Log* log);

}  // namespace stubframework::downloader
