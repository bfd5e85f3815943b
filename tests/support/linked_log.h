// A log that offers a link, as the run log does, and whose owner lets go of
// it observably: Retire cuts the link as the owner's destructor would, but the
// object stays in memory, so a line that still reaches it is counted instead
// of landing in freed memory.
#pragma once

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "base/log.h"
#include "base/log_link.h"

namespace testsupport {

class LinkedLog : public stubframework::base::Log {
 public:
  LinkedLog() : link_(stubframework::base::LogLink::Create(this)) {}
  ~LinkedLog() { Retire(); }
  LinkedLog(const LinkedLog&) = delete;
  LinkedLog& operator=(const LinkedLog&) = delete;

  void Write(int, const wchar_t* format, va_list args) override {
    wchar_t line[2048];
    int written = _vsnwprintf(line, 2047, format, args);
    line[written < 0 ? 2047 : written] = L'\0';
    std::lock_guard<std::mutex> hold(mutex_);
    if (retired_) {
      ++after_retired_;
    } else {
      lines_.push_back(line);
    }
  }

  stubframework::base::LogLink* NewLink() override {
    if (link_ != nullptr) link_->AddRef();
    return link_;
  }

  void Retire() {
    if (link_ != nullptr) {
      link_->Cut();
      link_->Release();
      link_ = nullptr;
    }
    std::lock_guard<std::mutex> hold(mutex_);
    retired_ = true;
  }

  std::vector<std::wstring> lines() {
    std::lock_guard<std::mutex> hold(mutex_);
    return lines_;
  }
  int after_retired() {
    std::lock_guard<std::mutex> hold(mutex_);
    return after_retired_;
  }

 private:
  stubframework::base::LogLink* link_;
  std::mutex mutex_;
  std::vector<std::wstring> lines_;
  bool retired_ = false;
  int after_retired_ = 0;
};

}  // namespace testsupport
