#include "base/log.h"

namespace stubframework::base {

#define STUB_LOG_FORWARD(target, level) \
  va_list args;                         \
  va_start(args, format);               \
  (target)->Write((level), format, args); \
  va_end(args)

void Log::Debug(const wchar_t* format, ...) { STUB_LOG_FORWARD(this, kLogDebug); }
void Log::Error(const wchar_t* format, ...) { STUB_LOG_FORWARD(this, kLogError); }
void Log::Trace(const wchar_t* format, ...) { STUB_LOG_FORWARD(this, kLogTrace); }

void LogDebug(Log* log, const wchar_t* format, ...) {
  if (log == nullptr) return;
  STUB_LOG_FORWARD(log, kLogDebug);
}
void LogError(Log* log, const wchar_t* format, ...) {
  if (log == nullptr) return;
  STUB_LOG_FORWARD(log, kLogError);
}
void LogTrace(Log* log, const wchar_t* format, ...) {
  if (log == nullptr) return;
  STUB_LOG_FORWARD(log, kLogTrace);
}

#undef STUB_LOG_FORWARD

}  // namespace stubframework::base
