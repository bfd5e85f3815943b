// Runs the product executable from tests and inspects what it leaves.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "support/test_files.h"

namespace testsupport {

// The product executable as a Windows path (Wine maps "/" to drive Z:).
std::wstring StubPath();

// Starts `exe` with `arguments` (program name added) and waits for it,
// pumping this thread's messages so that a window of ours can answer it.
DWORD RunAndWait(const std::wstring& exe, const std::wstring& arguments);

// A new folder under the temporary path, made the TMP and TEMP of this process
// and of the programs it starts; empty on failure. LeaveTempFolder undoes it.
std::wstring EnterTempFolder();
void LeaveTempFolder(const std::wstring& folder);
// Removes every setting the product keeps under its settings key.
void ClearProductSettings();

std::vector<std::wstring> ListFolder(const std::wstring& folder);
bool PathExists(const std::wstring& path);

}  // namespace testsupport
