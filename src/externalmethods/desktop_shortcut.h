// The desktop shortcut that brings the user back to an interrupted install:
// a link on the current user's desktop to the stub the user started.
#pragma once

#include <string>

#include "base/log.h"

namespace stubframework::externalmethods {

// The desktop folder combined with `name`; empty when `name` is not a bare
// file name (it must not lead out of the desktop) or no path can be formed.
std::wstring DesktopShortcutPath(const std::wstring& name);

// create: a link named `name` to `target`, working in the target's folder,
// only when there is a target. Otherwise: deletes the file `name` from the
// desktop. False when nothing was done.
bool ManageDesktopShortcut(base::Log* log, const std::wstring& name, bool create, const std::wstring& target);

}  // namespace stubframework::externalmethods
