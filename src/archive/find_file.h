// Finds a file by name in a folder tree.
#pragma once

#include <string>

namespace stubframework::archive {

// True when folder or one of its subfolders holds a file or folder called
// name; holder receives that folder (folder itself when it holds it
// directly). Subfolders are searched depth first in enumeration order and the
// first hit wins.
bool FindFile(const std::wstring& folder, const std::wstring& name, std::wstring* holder);

}  // namespace stubframework::archive
