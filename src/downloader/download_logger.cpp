#include "downloader/download_logger.h"

#include <cstdarg>
#include <cstdio>

#include "downloader/object.h"

namespace stubframework::downloader {

std::wstring FormatDownloadLogMessage(const wchar_t* format, va_list args) {
  wchar_t message[kDownloadLogMessageSize];
  // _vsnwprintf (the runtime's, with the Windows conversions) returns -1 when
  // the text does not fit and then leaves the buffer unterminated.
  int written = _vsnwprintf(message, kDownloadLogMessageSize - 1, format, args);
  if (written < 0) written = static_cast<int>(kDownloadLogMessageSize - 1);
  message[written] = L'\0';
  return message;
}

namespace {

void WriteLine(base::Log* log, const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  log->Write(base::kLogTrace, format, args);
  va_end(args);
}

}  // namespace

DownloadLogger::DownloadLogger(base::Log* log) : link_(log != nullptr ? log->NewLink() : nullptr) {
  log_ = link_ != nullptr ? link_ : log;
}

DownloadLogger::~DownloadLogger() {
  if (link_ != nullptr) link_->Release();
}

void DownloadLogger::Log(const wchar_t* context, const wchar_t* format, ...) {
  if (log_ == nullptr) return;
  va_list args;
  va_start(args, format);
  std::wstring message = FormatDownloadLogMessage(format, args);
  va_end(args);
  WriteLine(log_, L"%s> %s", context, message.c_str());
}

ILogger* CreateDownloadLogger(base::Log* log) {
  return details::Object<DownloadLogger>::Create(log);
}

}  // namespace stubframework::downloader
