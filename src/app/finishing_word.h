// The launcher's word for the finishing run of a self-update. The finishing run
// overwrites the file the user started with its own image, so it must not act
// on its command line alone: anyone can type that command line. The launcher
// writes what it asks for into a pipe whose read end the finishing run
// inherits as its standard input. Only a process that created the finishing
// run itself can hand it that pipe (an elevated program started by an
// unelevated one through the consent prompt inherits no handles), and the
// finishing run acts only when the word matches its command line.
#pragma once

#include <windows.h>

#include <string>

#include "base/unique_handle.h"

namespace stubframework::app {

struct FinishingWord {
  DWORD exit_code = 0;
  DWORD parent_id = 0;
  std::wstring target;  // the user's stub file, replaced by the newer one
};

// The bytes of a word; Decode takes them back. Decode refuses a wrong tag,
// a length that disagrees with the size, an empty or over-long target.
std::string EncodeFinishingWord(const FinishingWord& word);
bool DecodeFinishingWord(const std::string& bytes, FinishingWord* word);

// Whether the word asks for exactly what the command line says.
bool WordMatches(const FinishingWord& word, DWORD exit_code, DWORD parent_id, const std::wstring& target);

// Starts `application` with the command line and the word on its standard
// input; does not wait. The process handle, invalid when it could not start.
base::UniqueHandle StartWithFinishingWord(const std::wstring& application, const std::wstring& folder,
                            const std::wstring& command_line, const FinishingWord& word);

// Reads the word this process was given; false without one (standard input
// no pipe, or what it holds is no word).
bool ReadOwnFinishingWord(FinishingWord* word);

}  // namespace stubframework::app
