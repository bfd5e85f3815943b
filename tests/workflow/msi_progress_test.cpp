// The Windows Installer's progress texts and what a run of them does to the
// install counters. Wine's msi.dll sends no second reset message, so a live
// install never reaches the totals; the rules are proved here.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "workflow/msi_progress.h"

namespace stubframework::workflow {
namespace {

struct ParseCase {
  const wchar_t* text;
  bool has_subtype;
  long f1, f2, f3;
};

TEST(MsiProgressTest, ReadsFieldsOneToThreeAndStopsWhereThePairsEnd) {
  const ParseCase cases[] = {
      {L"1: 0 2: 24015 3: 0 4: 0 ", true, 0, 24015, 0},
      {L"1: 1 2: 6 3: 1 4: 0 ", true, 1, 6, 1},
      {L"1: 2 2: 13200 3: 0 4: 0 ", true, 2, 13200, 0},
      {L"1:2 2:-5", true, 2, -5, 0},              // no blanks, a negative value
      {L"2: 7 1: 2", true, 2, 7, 0},              // any order
      {L"1: 2 4: 9 2: 7", true, 2, 0, 0},         // a field above 3 ends the text
      {L"1: 2 2 7", true, 2, 0, 0},               // a pair without its colon ends it
      {L"1: 2 2: 4294967296", true, 2, 0, 0},     // beyond 32 bits ends it
      {L"1: 2 2: 2147483647", true, 2, 2147483647, 0},
      {L"1: 2 2: -2147483648", true, 2, -2147483647 - 1, 0},
      {L"0: 1 1: 2", false, 0, 0, 0},             // field 0 is no field
      {L"2: 5 3: 1", false, 0, 5, 1},             // no subtype
      {L"", false, 0, 0, 0},
      {L"garbage", false, 0, 0, 0},
  };
  for (const ParseCase& c : cases) {
    MsiProgressFields fields = ParseMsiProgress(c.text);
    SCOPED_TRACE(testing::PrintToString(std::wstring(c.text)));
    EXPECT_EQ(fields.has_subtype, c.has_subtype);
    EXPECT_EQ(fields.field[1], c.f1);
    EXPECT_EQ(fields.field[2], c.f2);
    EXPECT_EQ(fields.field[3], c.f3);
  }
}

// A run of messages from fresh counters (total 1, current 0, as the install sets them).
MsiProgressState ApplyAll(const std::vector<const wchar_t*>& texts) {
  MsiProgressState state;
  state.total = 1;
  for (const wchar_t* text : texts) state = ApplyMsiProgress(state, ParseMsiProgress(text));
  return state;
}

struct RunCase {
  const char* what;
  std::vector<const wchar_t*> texts;
  long total, current;
};

TEST(MsiProgressTest, TheSecondResetSetsTheTotalAndOnlyThenReportsCount) {
  const RunCase cases[] = {
      {"the first reset (script generation) is ignored", {L"1: 0 2: 500 3: 0"}, 1, 0},
      {"reports before the second reset are ignored", {L"1: 0 2: 500", L"1: 2 2: 40"}, 1, 0},
      {"the second reset sets the total", {L"1: 0 2: 500", L"1: 0 2: 24015 3: 0 4: 0"}, 24015, 0},
      {"a third reset leaves it", {L"1: 0 2: 5", L"1: 0 2: 100", L"1: 0 2: 900"}, 100, 0},
      {"reports then add up", {L"1: 0 2: 5", L"1: 0 2: 100", L"1: 2 2: 30", L"1: 2 2: 12"}, 100, 42},
      {"action information adds to the total when field 3 is set",
       {L"1: 0 2: 5", L"1: 0 2: 100", L"1: 1 2: 25 3: 1", L"1: 1 2: 99 3: 0"}, 125, 0},
      {"a message without a subtype changes nothing", {L"1: 0 2: 5", L"1: 0 2: 100", L"2: 50"}, 100, 0},
      {"an unknown subtype changes nothing", {L"1: 0 2: 5", L"1: 0 2: 100", L"1: 3 2: 50"}, 100, 0},
      {"sums wrap in 32 bits", {L"1: 0", L"1: 0 2: 2147483647", L"1: 1 2: 1 3: 1"}, -2147483647 - 1, 0},
  };
  for (const RunCase& c : cases) {
    SCOPED_TRACE(c.what);
    MsiProgressState state = ApplyAll(c.texts);
    EXPECT_EQ(state.total, c.total);
    EXPECT_EQ(state.current, c.current);
  }
}

TEST(MsiProgressTest, ActionInformationNeedsANonZeroTotal) {
  MsiProgressState state;  // total 0
  state = ApplyMsiProgress(state, ParseMsiProgress(L"1: 1 2: 25 3: 1"));
  EXPECT_EQ(state.total, 0);
}

TEST(MsiProgressTest, TheResetCountStaysSmallWhateverArrives) {
  MsiProgressState state;
  for (int i = 0; i < 100000; ++i) state = ApplyMsiProgress(state, ParseMsiProgress(L"1: 0 2: 7"));
  EXPECT_EQ(state.resets, 2);
  EXPECT_EQ(state.total, 7);
}

}  // namespace
}  // namespace stubframework::workflow
