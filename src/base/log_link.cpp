#include "base/log_link.h"

#include <new>

namespace stubframework::base {

LogLink* LogLink::Create(Log* target) { return new (std::nothrow) LogLink(target); }

void LogLink::AddRef() { ::InterlockedIncrement(&references_); }

void LogLink::Release() {
  if (::InterlockedDecrement(&references_) == 0) delete this;
}

void LogLink::Write(int level, const wchar_t* format, va_list args) {
  ScopedLock lock(lock_);
  if (target_ != nullptr) target_->Write(level, format, args);
}

void LogLink::Cut() {
  ScopedLock lock(lock_);
  target_ = nullptr;
}

}  // namespace stubframework::base
