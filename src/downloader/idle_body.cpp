#include "downloader/idle_body.h"

#include <wininet.h>

#include "downloader/result_codes.h"

namespace stubframework::downloader {

bool IsBrokenConnection(long result) {
  static constexpr long kBroken[] = {ERROR_INTERNET_TIMEOUT, ERROR_INTERNET_CONNECTION_ABORTED,
                                     ERROR_INTERNET_CONNECTION_RESET, WSAETIMEDOUT, WSAECONNABORTED,
                                     WSAECONNRESET};
  for (long error : kBroken) {
    if (result == ResultFromWin32(error)) return true;
  }
  return false;
}

bool StallBudget::Spend() {
  spent_ms_ += NowMs() - last_byte_ms_;
  return spent_ms_ < static_cast<int64>(limit_ms_);
}

}  // namespace stubframework::downloader
