// The registry record of packages extracted during a download, which lets an
// install after a restart find their folders again.
#pragma once

#include <string>

#include "base/log.h"
#include "base/property_bag.h"

namespace stubframework::workflow {

// "<base key>\ResumeRecord\ExtractFolders".
std::wstring ExtractFoldersKey(const std::wstring& base_key);

// At start: in resume mode copies every value of the record into the property
// store (logging each), except folder values that name no folder this
// program unpacked into (the record lives under HKCU: a hint, not a word);
// in every mode then deletes the record (32-bit view).
void RestoreExtractedPackages(base::Log* log, const std::wstring& base_key, int resume_mode,
                              base::LockedProperties& properties);

}  // namespace stubframework::workflow
