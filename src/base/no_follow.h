// Opening a file or folder in a folder others can write, deciding on the
// handle that is acted on, never on an earlier listing or attribute query: a
// link swapped in at the last moment is opened as the link itself (Windows),
// or, where the system opens what it leads to anyway (Wine shows a Unix link
// only by path), found out because the handle is not where the path says.
#pragma once

#include <windows.h>

#include <string>

#include "base/unique_handle.h"

namespace stubframework::base {

// The path of what `handle` holds, links resolved ("\\?\C:\..."); empty on failure.
std::wstring FinalPathOf(HANDLE handle);

struct HeldEntry {
  UniqueHandle handle;
  DWORD attributes = 0;      // of the handle's own object
  bool is_link = false;      // a reparse point, held itself
  bool in_place = false;     // not a link, and exactly at `expected` (the folder's final path + name)
  std::wstring final_path;   // empty for a link
};

// Opens `path` with FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS
// (plus `flags`) and reads what the handle holds. `expected` is where the
// entry must be when nothing redirected it: the final path of its folder's
// handle, "\", its name. The handle is invalid when the open failed.
HeldEntry OpenNoFollow(const std::wstring& path, const std::wstring& expected, DWORD access, DWORD share,
                       DWORD disposition, DWORD flags = 0);

// `parent` (a final path, with or without a trailing "\") joined with `name`.
std::wstring JoinFinal(const std::wstring& parent, const std::wstring& name);

}  // namespace stubframework::base
