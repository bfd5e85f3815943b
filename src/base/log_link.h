// A counted way to a log for writers whose end its owner cannot wait for (a
// request that a pool thread closes, reading the rest of its body first).
// A writer holds a reference and writes through the link; the log's owner
// cuts the link before the log goes, after which lines are dropped. The
// link, not the log, lives until its last reference is released.
#pragma once

#include <windows.h>

#include "base/critical_section.h"
#include "base/log.h"

namespace stubframework::base {

class LogLink final : public Log {
 public:
  // One reference, the owner's; null when memory is missing.
  static LogLink* Create(Log* target);
  LogLink(const LogLink&) = delete;
  LogLink& operator=(const LogLink&) = delete;

  void AddRef();
  void Release();

  // Forwards to the log while the link holds; drops the line once cut.
  void Write(int level, const wchar_t* format, va_list args) override;

  // From the log's owner, before the log goes: waits for a line being
  // written through the link to end; no line reaches the log afterwards.
  void Cut();

 private:
  explicit LogLink(Log* target) : target_(target) {}
  ~LogLink() = default;

  CriticalSection lock_;
  Log* target_;  // null once cut
  volatile LONG references_ = 1;
};

}  // namespace stubframework::base
