// The installer's progress texts: one message per line, each read into its
// fields and applied to the counters in order, as the install worker does.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "workflow/msi_progress.h"

namespace workflow = stubframework::workflow;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  workflow::MsiProgressState state;
  std::wstring line;
  for (size_t i = 0; i <= size; ++i) {
    if (i < size && data[i] != '\n') {
      line.push_back(static_cast<wchar_t>(data[i]));
      continue;
    }
    workflow::MsiProgressFields fields = workflow::ParseMsiProgress(line);
    state = workflow::ApplyMsiProgress(state, fields);
    if (state.resets < 0 || state.resets > 2) abort();
    // The counters are 32-bit values, whatever the width of long.
    if (state.total < INT32_MIN || state.total > INT32_MAX) abort();
    if (state.current < INT32_MIN || state.current > INT32_MAX) abort();
    line.clear();
  }
  return 0;
}
