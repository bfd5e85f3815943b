#include "app/launch.h"

namespace stubframework::core {

// Relaunching from a temporary copy is not part of this build yet: every
// process goes on to show the UI.
LaunchOutcome RunLaunchCheck(const std::wstring&, const std::wstring&) { return LaunchOutcome::kContinue; }

std::wstring PassthroughArguments() { return std::wstring(); }

}  // namespace stubframework::core
