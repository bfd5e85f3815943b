// The registry record of packages extracted during a download, which lets an
// install after a restart find their folders again.
#pragma once

#include <string>

#include "base/property_bag.h"

namespace stubframework::core {
class Application;
}

namespace stubframework {

// "<base key>\ResumeRecord\ExtractFolders".
std::wstring ExtractFoldersKey(const std::wstring& base_key);

// At start: in resume mode copies every value of the record into the property
// store (logging each); in every mode then deletes the record (32-bit view).
void RestoreExtractedPackages(core::Application* app, const std::wstring& base_key, int resume_mode,
                              core::LockedProperties& properties);

}  // namespace stubframework
