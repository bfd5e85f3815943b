// The engine's logger: writes engine lines into the run log at trace level.
#pragma once

#include "base/log.h"
#include "downloader/interfaces.h"

namespace stubframework::downloader {


// Each message is cut to this many characters, the terminator included.
inline constexpr size_t kDownloadLogMessageSize = 1024;

// The message of one Log call, formatted and cut to 1023 characters.
std::wstring FormatDownloadLogMessage(const wchar_t* format, va_list args);

class DownloadLogger : public ILogger {
 public:
  explicit DownloadLogger(base::Log* log) : log_(log) {}
  void Log(const wchar_t* context, const wchar_t* format, ...) override;

 private:
  base::Log* log_;
};

// A logger bound to `log`, or one that drops every line when `log` is null.
// Null only when memory is missing. The caller owns the one reference.
ILogger* CreateDownloadLogger(base::Log* log);

}  // namespace stubframework::downloader
