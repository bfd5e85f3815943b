// The resume-manager record: the identifier of an installation run and the
// product installer's launch-on-exit value, kept across a restart under
// "<settings key>\ResumeManager" (32-bit view).
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace stubframework::workflow {

// "<settings key>\ResumeManager".
std::wstring ResumeManagerKey(const std::wstring& settings_key);

// Further folders are read up to this many; the record lives under HKCU,
// where anyone running as the user can add values.
inline constexpr size_t kMaxResumeTempFolders = 64;

struct ResumeManagerRecord {
  std::wstring folder;
  std::wstring guid;
  std::wstring launch_on_exit;
  std::vector<std::wstring> temp_folders;  // "tempfolder0", "tempfolder1", ... up to the first gap
  // `folder` and then `guid` could be read.
  bool complete = false;
};

// Reads the record in its order (each value 64-bit view first, then 32-bit):
// `folder`, `guid` (a missing one ends the read, incomplete), `launchOnExit`
// (may be missing), then the numbered temp folders.
ResumeManagerRecord ReadResumeManagerRecord(const std::wstring& settings_key);

// For a resumed run reads the record; otherwise deletes its key (only a key
// without subkeys goes; a failure is ignored) and answers an empty record.
ResumeManagerRecord OpenResumeManagerRecord(const std::wstring& settings_key, bool is_resume);

// Each opens or creates the key and writes REG_SZ in the 32-bit view.
bool WriteResumeGuid(const std::wstring& settings_key, const std::wstring& guid);
bool WriteResumeLaunchOnExit(const std::wstring& settings_key, const std::wstring& launch_on_exit);

// Whether `text` is a GUID as the install worker writes it: 36 characters,
// hexadecimal digits in groups of 8-4-4-4-12 joined by "-".
bool IsGuidText(const std::wstring& text);

}  // namespace stubframework::workflow
