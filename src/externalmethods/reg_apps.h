// The applications a finished install registered to start when the installer
// exits: "regApp..." values of a key under HKEY_LOCAL_MACHINE that the
// resume-manager record's `guid` and `launchOnExit` lead to.
#pragma once

#include <string>
#include <vector>

#include "base/log.h"

namespace stubframework::externalmethods {

// "Software" + launchOnExit.
std::wstring RegAppsRecordKey(const std::wstring& launch_on_exit);

// The key that holds the record's `guid` key: the record key up to the
// backslash before the guid, or "Software" when the guid is not in it.
std::wstring RegAppsParentKey(const std::wstring& record_key, const std::wstring& guid);

// Whether the guid's key under the parent key may be deleted: the guid must
// be a GUID as the install worker writes it, standing in the record key as a
// whole key name or not at all. Both come from the user's registry, which
// must not pick a key of the machine to delete.
bool MayDeleteRegAppsKey(const std::wstring& record_key, const std::wstring& guid);

// Whether the record key is one the elevated stub may act on: below the
// publisher's own machine key ("Software\<publisher>\", which only
// administrators can write) and holding the guid (a GUID) as a whole key
// name. The record and its guid come from the user's registry: anywhere else
// they could have the stub start, elevated, what another program registered,
// or delete another program's keys.
bool IsOwnRegAppsKey(const std::wstring& record_key, const std::wstring& guid);

// The data of every value of the record key (32-bit view) whose name begins
// with "regApp", in enumeration order; longer names or data are skipped.
std::vector<std::wstring> ReadRegApps(const std::wstring& record_key);

// Deletes parent key\guid with everything below it (32-bit view).
bool DeleteRegAppsKey(const std::wstring& parent_key, const std::wstring& guid);

// A registered command line as it is started: the first argument is the
// file; the others follow, each after one blank, without their quotes.
struct RegAppCommand {
  std::wstring file;
  std::wstring parameters;
};
// False for a command line without a program (blank, or nothing to split).
bool SplitRegAppCommand(const std::wstring& command_line, RegAppCommand* command);

// Starts one command elevated ("runas"), without waiting; logs it.
bool StartRegApp(base::Log* log, const std::wstring& command_line);

}  // namespace stubframework::externalmethods
