// Where an archive entry lands: the destination joined with the entry's name,
// refusing names that would lead anywhere else.
#pragma once

#include <string>
#include <vector>

namespace stubframework::archive {

// True when a name (already "\" separated) stays inside the folder it is
// joined to and names exactly one file there: not empty, relative (no leading
// "\", no drive or stream colon), no empty component and none ending in a dot
// or a blank (Windows drops those, so ".." hides in ". ." and "x" in "x."), no
// character that file names cannot hold, no device name (CON, PRN, AUX, NUL,
// COM1-9, LPT1-9, CONIN$, CONOUT$, in any case, with any extension).
bool IsContainedEntryName(const std::wstring& name);

// False when two of the names ("/" or "\" separated, a trailing separator
// marking a folder) would be one file on Windows: equal but for case, or a
// file named again as a folder. A folder named twice is allowed.
bool EntryNamesAreDistinct(const std::vector<std::wstring>& names);

// The stored name (at most kEntryNameLimit bytes of it) converted from the
// ANSI code page with "/" turned into "\"; false when it cannot be.
bool EntryNameOf(const std::string& stored_name, std::wstring* name);

// Converts at most 259 bytes of the stored name from the ANSI code page,
// turns "/" into "\" and joins it to destination. False when the conversion or
// the join fails, or the name is refused by IsContainedEntryName.
bool EntryTargetPath(const std::wstring& destination, const std::string& stored_name, std::wstring* target);

}  // namespace stubframework::archive
