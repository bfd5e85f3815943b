// Where an archive entry lands: the destination joined with the entry's name,
// refusing names that would lead anywhere else.
#pragma once

#include <string>

namespace stubframework::archive {

// True when a name (already "\" separated) stays inside the folder it is
// joined to: not empty, relative (no leading "\", no drive or stream colon),
// no empty, "." or ".." component (nor one that Windows trims to those), no
// character that file names cannot hold, no device name such as "CON".
bool IsContainedEntryName(const std::wstring& name);

// Converts at most 259 bytes of the stored name from the ANSI code page,
// turns "/" into "\" and joins it to destination. False when the conversion or
// the join fails, or the name is refused by IsContainedEntryName.
bool EntryTargetPath(const std::wstring& destination, const std::string& stored_name, std::wstring* target);

}  // namespace stubframework::archive
