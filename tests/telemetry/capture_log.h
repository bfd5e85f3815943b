// A log that keeps its lines, for tests of code that writes to a base::Log.
#pragma once

#include <cstdarg>
#include <string>
#include <vector>

#include "base/critical_section.h"
#include "base/log.h"
#include "base/wide_format.h"

namespace testsupport {

class CaptureLog final : public stubframework::base::Log {
 public:
  void Write(int, const wchar_t* format, va_list args) override {
    std::wstring line = stubframework::base::FormatV(format, args);
    stubframework::base::ScopedLock hold(lock_);
    lines_.push_back(line);
  }
  std::vector<std::wstring> lines() {
    stubframework::base::ScopedLock hold(lock_);
    return lines_;
  }
  bool Has(const std::wstring& text) {
    for (const std::wstring& line : lines()) {
      if (line.find(text) != std::wstring::npos) return true;
    }
    return false;
  }

 private:
  stubframework::base::CriticalSection lock_;
  std::vector<std::wstring> lines_;
};

}  // namespace testsupport
