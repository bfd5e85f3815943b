// The one spelling of an existing folder that path comparisons can trust.
#pragma once

#include <string>

namespace stubframework::workflow {

// For an absolute path ("C:\...", "\\server\share\...", also with a "\\?\"
// prefix) of an existing folder: the path the system opens, with "." and ".."
// resolved, long names for short ones, the letter case stored on disk, every
// junction or link on the way followed, no "\\?\" prefix and no trailing
// separator ("C:\" for a drive root). False for relative, device or empty
// paths, text with a NUL, and anything that is no existing folder.
bool CanonicalFolder(const std::wstring& path, std::wstring* canonical);

}  // namespace stubframework::workflow
