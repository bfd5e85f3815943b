// The Windows Installer's progress messages, read into install progress.
// Pure functions: the live handler only feeds them and stores the result.
#pragma once

#include <cstdint>
#include <string>

namespace stubframework::workflow {

// Fields 1 to 3 of a progress text such as "1: 0 2: 24015 3: 0 4: 0 ".
struct MsiProgressFields {
  bool has_subtype = false;  // field 1 was read
  long field[4] = {0, 0, 0, 0};  // [1] subtype, [2] and [3] its values; [0] unused
};

// Reads "<number>: <integer>" pairs; stops at a field number above 3, at the
// first piece that is not such a pair, and at a value outside 32 bits.
MsiProgressFields ParseMsiProgress(const std::wstring& text);

// The counters a run of messages moves.
struct MsiProgressState {
  int resets = 0;     // reset messages seen; counts up to 2, which stands for "more than one"
  long total = 0;     // "installTotal"
  long current = 0;   // "installCurrent"
};

enum MsiProgressSubtype : long {
  kMsiProgressReset = 0,
  kMsiProgressActionInfo = 1,
  kMsiProgressReport = 2,
};

// One message applied: the first reset (script generation) only counts, the
// second sets the total; action information adds field 2 to a non-zero total
// when field 3 is set; progress reports add field 2 to the current count once
// more than one reset was seen. Sums wrap in 32 bits as the properties do.
MsiProgressState ApplyMsiProgress(MsiProgressState state, const MsiProgressFields& fields);

}  // namespace stubframework::workflow
