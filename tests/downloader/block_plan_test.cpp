// The rules of a download from several connections and mirrors: which run a
// connection takes, which mirror it asks, how answers are judged.
#include "downloader/block_plan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "downloader/result_codes.h"

namespace downloader = stubframework::downloader;

namespace {

using downloader::BlockRun;
using downloader::BlockState;
using downloader::DropReason;
using downloader::int64;
using downloader::MirrorLoad;

constexpr int64 kMiB = 1048576;

// "." missing, "f" fetching, "v" verified.
std::vector<BlockState> States(const std::string& text) {
  std::vector<BlockState> states;
  for (char c : text) {
    states.push_back(c == 'v' ? BlockState::kVerified : c == 'f' ? BlockState::kFetching : BlockState::kMissing);
  }
  return states;
}

TEST(NextRunTest, TakesTheFirstMissingBlocksUpToAShareOfWhatIsMissing) {
  struct Case {
    const char* states;
    int connections;
    size_t first;
    size_t count;
  } cases[] = {
      {"", 4, 0, 0},                  // an empty file
      {"vvvv", 4, 0, 0},              // nothing missing
      {"ffff", 4, 0, 0},              // everything taken
      {"........", 1, 0, 8},          // one connection takes all (under the cap)
      {"........", 4, 0, 2},          // a quarter each
      {".........", 4, 0, 3},         // the share rounds up
      {"vv......", 3, 2, 2},          // from the first missing block
      {"..f.....", 2, 0, 2},          // a run stops at a block being fetched
      {"..v.....", 1, 0, 2},          // and at a verified one
      {"ffvv.", 4, 4, 1},             // the last block alone
      {".", 16, 0, 1},                // more connections than blocks: one block
      {"........", 0, 0, 8},          // a nonsense count acts as one
  };
  for (const Case& c : cases) {
    std::vector<BlockState> states = States(c.states);
    size_t missing = static_cast<size_t>(std::count(states.begin(), states.end(), BlockState::kMissing));
    BlockRun run = downloader::NextRun(states, downloader::RunLength(missing, c.connections));
    EXPECT_EQ(run.first, c.first) << c.states << " / " << c.connections;
    EXPECT_EQ(run.count, c.count) << c.states << " / " << c.connections;
  }
}

TEST(NextRunTest, NoRunIsLongerThanTheCap) {
  EXPECT_EQ(downloader::RunLength(1000, 1), downloader::kMaxRunBlocks);
  EXPECT_EQ(downloader::RunLength(1000, 4), downloader::kMaxRunBlocks);
  EXPECT_EQ(downloader::RunLength(4 * downloader::kMaxRunBlocks, 4), downloader::kMaxRunBlocks);
  EXPECT_EQ(downloader::RunLength(4 * downloader::kMaxRunBlocks + 1, 4), downloader::kMaxRunBlocks);
  // 33 blocks over one connection: the cap, then the one left.
  std::vector<BlockState> tail(downloader::kMaxRunBlocks + 1, BlockState::kMissing);
  BlockRun run = downloader::NextRun(tail, downloader::RunLength(tail.size(), 1));
  for (size_t k = run.first; k < run.first + run.count; ++k) tail[k] = BlockState::kFetching;
  run = downloader::NextRun(tail, downloader::RunLength(1, 1));
  EXPECT_EQ(run.first, downloader::kMaxRunBlocks);
  EXPECT_EQ(run.count, 1u);
}

// Connections started together share what was missing before the first
// took its run: 64 blocks over four are four runs of 16, not 16, 12, 9, 7.
TEST(NextRunTest, ConnectionsStartedTogetherGetRunsOfOneLength) {
  struct Case {
    size_t blocks;
    int connections;
    std::vector<size_t> counts;
  } cases[] = {
      {64, 4, {16, 16, 16, 16}},
      {10, 4, {3, 3, 3, 1}},
      {9, 3, {3, 3, 3}},
      {2, 4, {1, 1}},  // more connections than blocks
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.blocks);
    std::vector<BlockState> states(c.blocks, BlockState::kMissing);
    const size_t length = downloader::RunLength(c.blocks, c.connections);
    std::vector<size_t> counts;
    for (int i = 0; i < c.connections; ++i) {
      BlockRun run = downloader::NextRun(states, length);
      if (run.count == 0) break;
      for (size_t k = run.first; k < run.first + run.count; ++k) states[k] = BlockState::kFetching;
      counts.push_back(run.count);
    }
    EXPECT_EQ(counts, c.counts);
  }
}

TEST(NextRunTest, RunsTakenInTurnCoverEveryMissingBlockOnce) {
  std::vector<BlockState> states = States("v..vv.......v..........vv......");
  std::vector<int> taken(states.size(), 0);
  for (;;) {
    size_t missing = static_cast<size_t>(std::count(states.begin(), states.end(), BlockState::kMissing));
    BlockRun run = downloader::NextRun(states, downloader::RunLength(missing, 3));
    if (run.count == 0) break;
    for (size_t k = run.first; k < run.first + run.count; ++k) {
      ASSERT_EQ(states[k], BlockState::kMissing) << k;
      states[k] = BlockState::kFetching;
      ++taken[k];
    }
  }
  std::vector<BlockState> original = States("v..vv.......v..........vv......");
  for (size_t k = 0; k < states.size(); ++k) EXPECT_EQ(taken[k], original[k] == BlockState::kMissing ? 1 : 0) << k;
}

TEST(RunBytesTest, TheLastRunEndsAtTheFileSize) {
  BlockRun run{2, 3};
  EXPECT_EQ(downloader::RunBegin(run), 2 * kMiB);
  EXPECT_EQ(downloader::RunEnd(run, 10 * kMiB), 5 * kMiB);
  EXPECT_EQ(downloader::RunEnd(run, 4 * kMiB + 7), 4 * kMiB + 7);
  EXPECT_EQ(downloader::RunEnd(BlockRun{0, 1}, 1), 1);
}

TEST(ChooseStealTest, TheLaterHalfOfTheRunWithTheMostLeftAndNeverTheBlockInProgress) {
  using downloader::PendingRun;
  struct Case {
    std::vector<PendingRun> runs;
    size_t unverified;  // blocks of the file not yet verified
    int victim;
    size_t first;
    size_t count;
    bool copy;
  } cases[] = {
      {{}, 0, -1, 0, 0, false},                       // nothing in flight
      {{{5, 6}}, 3, -1, 0, 0, false},                 // only the block it is receiving
      {{{7, 7}, {3, 2}}, 3, -1, 0, 0, false},         // done, or nonsense: nothing to take
      {{{5, 7}}, 2, 0, 6, 1, false},                  // two left: the second moves
      {{{0, 5}}, 5, 0, 3, 2, false},                  // odd: the victim keeps the larger half
      {{{0, 4}, {10, 20}}, 14, 1, 15, 5, false},      // the run with the most left
      {{{0, 4}, {10, 14}}, 8, 0, 2, 2, false},        // a tie: the earliest listed
      {{{30, 31}, {8, 10}, {2, 3}}, 4, 1, 9, 1, false},
      // The very last block of the file may be asked of a second connection.
      {{{9, 10}}, 1, 0, 9, 1, true},
      {{{4, 4}, {9, 10}}, 1, 1, 9, 1, true},
      {{{9, 10}}, 2, -1, 0, 0, false},                // another block is still unproven
      {{{9, 10}, {9, 10}}, 1, -1, 0, 0, false},       // already asked of two
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.runs.size() << " runs, " << c.unverified << " unverified");
    downloader::Steal steal = downloader::ChooseSteal(c.runs, c.unverified);
    EXPECT_EQ(steal.victim, c.victim);
    EXPECT_EQ(steal.run.first, c.first);
    EXPECT_EQ(steal.run.count, c.count);
    EXPECT_EQ(steal.copy, c.copy);
  }
}

// Idle connections stealing in turn until nothing is left to split: every
// block stays with exactly one connection, and each keeps its block in
// progress.
TEST(ChooseStealTest, StealingInTurnSplitsDownToSingleBlocksWithoutOverlap) {
  using downloader::PendingRun;
  std::vector<PendingRun> runs = {{0, 32}, {40, 41}};
  for (;;) {
    downloader::Steal steal = downloader::ChooseSteal(runs, 33);
    if (steal.victim < 0) break;
    PendingRun& victim = runs[static_cast<size_t>(steal.victim)];
    ASSERT_GT(steal.run.first, victim.next);
    ASSERT_EQ(steal.run.first + steal.run.count, victim.end);
    victim.end = steal.run.first;
    runs.push_back({steal.run.first, steal.run.first + steal.run.count});
  }
  std::vector<int> owners(41, 0);
  for (const PendingRun& run : runs) {
    EXPECT_EQ(run.end - run.next, 1u);
    for (size_t k = run.next; k < run.end; ++k) ++owners[k];
  }
  for (size_t k = 0; k < 32; ++k) EXPECT_EQ(owners[k], 1) << k;
  EXPECT_EQ(owners[40], 1);
  EXPECT_EQ(runs.size(), 33u);
}

TEST(ChooseMirrorTest, TheLeastLoadedLiveMirrorEarliestFirst) {
  struct Case {
    std::vector<MirrorLoad> mirrors;
    int chosen;
  } cases[] = {
      {{}, -1},
      {{{true, 0}}, -1},
      {{{true, 0}, {true, 3}}, -1},
      {{{false, 0}}, 0},
      {{{false, 0}, {false, 0}}, 0},
      {{{false, 2}, {false, 1}, {false, 1}}, 1},
      {{{true, 0}, {false, 5}}, 1},
      {{{false, 1}, {true, 0}, {false, 1}}, 0},
  };
  for (const Case& c : cases) EXPECT_EQ(downloader::ChooseMirror(c.mirrors), c.chosen);
}

TEST(ChooseMirrorTest, ConnectionsSpreadEvenlyOverLiveMirrors) {
  std::vector<MirrorLoad> mirrors(3);
  mirrors[1].dropped = true;
  for (int i = 0; i < 6; ++i) ++mirrors[static_cast<size_t>(downloader::ChooseMirror(mirrors))].in_flight;
  EXPECT_EQ(mirrors[0].in_flight, 3);
  EXPECT_EQ(mirrors[1].in_flight, 0);
  EXPECT_EQ(mirrors[2].in_flight, 3);
}

TEST(JudgeAnswerTest, OnlyTheAskedRangeOfTheSameFileIsAccepted) {
  const int64 size = 10 * kMiB;
  struct Case {
    int status;
    int64 range_offset;
    int64 range_total;
    const char* etag;
    int64 offset;
    const char* known;
    DropReason reason;
  } cases[] = {
      {206, 2 * kMiB, size, "\"a\"", 2 * kMiB, "", DropReason::kNone},
      {206, 2 * kMiB, size, "\"a\"", 2 * kMiB, "\"a\"", DropReason::kNone},
      {206, 2 * kMiB, -1, "", 2 * kMiB, "", DropReason::kNone},           // no total given
      {206, 3 * kMiB, size, "\"a\"", 2 * kMiB, "", DropReason::kErrorAnswer},  // another range
      {206, 2 * kMiB, size + 1, "\"a\"", 2 * kMiB, "", DropReason::kErrorAnswer},  // another file
      {200, 0, size, "\"a\"", 0, "", DropReason::kNone},                  // the whole file for a run from 0
      {200, 0, size, "\"a\"", 2 * kMiB, "", DropReason::kErrorAnswer},    // ranges ignored
      {200, 0, size - 1, "\"a\"", 0, "", DropReason::kErrorAnswer},
      {404, 0, 100, "", 2 * kMiB, "", DropReason::kErrorAnswer},
      {500, 0, 100, "", 0, "", DropReason::kErrorAnswer},
      {416, 0, -1, "", 2 * kMiB, "", DropReason::kErrorAnswer},
      {-1, 0, -1, "", 2 * kMiB, "", DropReason::kErrorAnswer},
      {206, 2 * kMiB, size, "\"b\"", 2 * kMiB, "\"a\"", DropReason::kEtagChanged},
      {206, 2 * kMiB, size, "", 2 * kMiB, "\"a\"", DropReason::kEtagChanged},  // a tag that disappears
  };
  for (const Case& c : cases) {
    EXPECT_EQ(downloader::JudgeAnswer(c.status, c.range_offset, c.range_total, c.etag, c.offset, size, c.known),
              c.reason)
        << c.status << " " << c.range_offset << " " << c.range_total << " " << c.etag << " " << c.known;
  }
}

TEST(FailureTest, CutsTimeoutsAndTheResultWhenEveryMirrorIsGone) {
  const long kTimeout = static_cast<long>(0x80072EE2);
  const long kReset = static_cast<long>(0x80072EFF);
  const long kRefused = static_cast<long>(0x80072EFD);  // cannot connect
  EXPECT_TRUE(downloader::IsCut(0));
  EXPECT_TRUE(downloader::IsCut(downloader::kResultShortRead));
  EXPECT_TRUE(downloader::IsCut(kReset));
  EXPECT_FALSE(downloader::IsCut(kTimeout));
  EXPECT_FALSE(downloader::IsCut(kRefused));
  EXPECT_FALSE(downloader::IsCut(downloader::kResultBadFormat));

  EXPECT_EQ(downloader::FailureReason(kTimeout), DropReason::kStalled);
  EXPECT_EQ(downloader::FailureReason(static_cast<long>(0x8007274C)), DropReason::kStalled);  // the socket's
  EXPECT_EQ(downloader::FailureReason(kRefused), DropReason::kFailed);

  using Drops = std::vector<downloader::MirrorDrop>;
  const downloader::MirrorDrop bad{DropReason::kBadBlock, downloader::kResultBlockUnverifiable};
  struct Case {
    Drops drops;
    long expected;
  } cases[] = {
      {{bad}, downloader::kResultBlockUnverifiable},
      {{bad, bad, bad}, downloader::kResultBlockUnverifiable},
      // Another reason decides, wherever it came: another try may find it gone.
      {{bad, {DropReason::kErrorAnswer, downloader::kResultBadFormat}}, downloader::kResultBadFormat},
      {{{DropReason::kStalled, kTimeout}, bad}, kTimeout},
      {{{DropReason::kEtagChanged, downloader::kResultBadFormat}}, downloader::kResultBadFormat},
      {{{DropReason::kCutTooOften, downloader::kResultShortRead}}, downloader::kResultBadFormat},
      {{{DropReason::kFailed, kRefused}, {DropReason::kStalled, kTimeout}}, kTimeout},
      {{{DropReason::kStalled, kTimeout}, {DropReason::kFailed, kRefused}}, kRefused},
      {{{DropReason::kFailed, 0}}, downloader::kResultBadFormat},  // never a success
      {{}, downloader::kResultFail},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(downloader::AllDroppedResult(c.drops), c.expected) << c.drops.size();
  }
}

}  // namespace
