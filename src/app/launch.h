// The launch check that runs before anything else.
#pragma once

#include <string>

namespace stubframework::core {

enum class LaunchOutcome {
  kContinue,           // this process shows the UI
  kFirstProcessDone,   // the temporary copy has run to its end: return 0
};

LaunchOutcome RunLaunchCheck(const std::wstring& product, const std::wstring& major_version);

// The pass-through part of the command line.
std::wstring PassthroughArguments();

}  // namespace stubframework::core
