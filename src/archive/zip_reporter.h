// Receives the progress and the errors of an archive extraction.
#pragma once

namespace stubframework::archive {

class ZipReporter {
 public:
  // Called with (i, count) before entry i and with (count, count) at the end,
  // also after a failed entry.
  virtual void Progress(unsigned done, unsigned total) = 0;
  // A read or write came up short; code is the system error.
  virtual void Error(int code) = 0;

 protected:
  ~ZipReporter() = default;
};

}  // namespace stubframework::archive
