// Temporary folders: the user's temporary path, unique folders under random
// names, and recursive delete.
#pragma once

#include <functional>
#include <string>

namespace stubframework::base {

// The user's temporary folder with a trailing backslash, in its long form;
// empty on failure.
std::wstring TemporaryPath();

// Creates base + "<32 random lowercase hex digits>\" with the protected
// access list of secured_folder.h; base must exist and end with a backslash.
// Empty on failure.
std::wstring MakeUniqueFolder(const std::wstring& base);

// Whether name has the shape MakeUniqueFolder gives.
bool IsUniqueFolderName(const std::wstring& name);

// Deletes everything in folder and the folder itself. File deletion failures are
// ignored; the result is whether the folder itself was removed. Each entry is
// judged on the handle it is deleted through (base/no_follow.h): a link goes
// itself, never what it leads to, whatever the listing said a moment before.
bool DeleteFolderRecursive(const std::wstring& folder);

// Called with each entry's path between the listing and its deletion (tests
// swap an entry there).
using DeletionHook = std::function<void(const std::wstring& path)>;
bool DeleteFolderRecursive(const std::wstring& folder, const DeletionHook& hook);

// Adds a trailing backslash when the path lacks one.
std::wstring WithTrailingBackslash(std::wstring path);

}  // namespace stubframework::base
