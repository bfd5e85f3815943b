// The rules of a download fetched over several connections from several
// mirrors, as pure functions over plain values: which blocks a connection
// asks for next, which mirror it asks, how an answer is judged, and when a
// mirror is given up. MultiSourceTask applies them under its lock.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "downloader/block_format.h"

namespace stubframework::downloader {

// The most connections one download may open at once (the page's option is
// refused above it). Each holds one block in memory.
inline constexpr int kMaxDownloadConnections = 16;
// The most mirrors one download may name.
inline constexpr size_t kMaxDownloadMirrors = 8;
// The longest run of blocks one request asks for: short enough that the
// connections finish close together, long enough that requests stay few.
inline constexpr size_t kMaxRunBlocks = 32;
// A mirror whose connection breaks off this many times in a row without a
// block verifying in between is given up.
inline constexpr int kMaxCutsInARow = 3;

enum class BlockState : unsigned char {
  kMissing,   // not proven on disk, nobody fetching it
  kFetching,  // a connection's run covers it
  kVerified,  // proven on disk; never written again
};

// Blocks [first, first + count).
struct BlockRun {
  size_t first = 0;
  size_t count = 0;
};

// How long a run a connection asks for: ceil(missing / connections), at most
// kMaxRunBlocks. Connections started together take their share of what was
// missing before the first of them took its run, so that they get runs of
// one length and end together.
size_t RunLength(size_t missing, int connections);

// The run a connection fetches next: from the first missing block over the
// missing blocks that follow it, at most `length` long. Count 0 when nothing
// is missing.
BlockRun NextRun(const std::vector<BlockState>& states, size_t length);

// What a connection still has to fetch: blocks [next, end), `next` the one
// it is receiving (what it holds of it is not lost by a split).
struct PendingRun {
  size_t next = 0;
  size_t end = 0;
};

// Work for a connection that found nothing missing, taken from one in
// flight: the later half of the run with the most blocks left (the earliest
// listed on a tie), so that the two end together. The victim keeps the block
// it is receiving and at least half of the rest, rounded up; `victim` is the
// index in `runs`, -1 (and count 0) when there is nothing to take. A block
// is never asked of two connections at once, except the very last: when it
// is the only block of the file not yet verified (`unverified` is 1) and one
// connection alone is receiving it, a second may ask for it too (`copy`: the
// victim keeps it), and the first to prove it wins.
struct Steal {
  int victim = -1;
  BlockRun run;
  bool copy = false;
};
Steal ChooseSteal(const std::vector<PendingRun>& runs, size_t unverified);

// Bytes [first byte, end byte) of a run in a file of `size` bytes.
int64 RunBegin(const BlockRun& run);
int64 RunEnd(const BlockRun& run, int64 size);

struct MirrorLoad {
  bool dropped = false;
  int in_flight = 0;  // connections now asking it
};

// The mirror a new connection asks: of those not dropped, the one with the
// fewest connections, the earliest listed on a tie; -1 when all are dropped.
int ChooseMirror(const std::vector<MirrorLoad>& mirrors);

// Why a mirror is given up for the rest of the run.
enum class DropReason {
  kNone,
  kBadBlock,       // a block it sent did not verify
  kErrorAnswer,    // a status other than the one asked for, or a wrong range
  kEtagChanged,    // its entity tag changed during the run
  kStalled,        // nothing arrived within the receive timeout
  kFailed,         // the request failed otherwise (refused, reset, TLS)
  kCutTooOften,    // kMaxCutsInARow answers broke off early
};

// A log line's words for a reason.
const wchar_t* DropReasonText(DropReason reason);

// An answer's head for a request of bytes [offset, end) of a file of `size`
// bytes: a 206 whose range starts at `offset` and whose total (when given)
// is `size`, or a 200 of the whole file when offset is 0. `known_etag` is the
// mirror's tag from earlier answers of this run (empty: none yet).
DropReason JudgeAnswer(int status, int64 range_offset, int64 range_total, const std::string& etag,
                       int64 offset, int64 size, const std::string& known_etag);

// Whether a request's end is a connection that broke off (a short body, a
// reset) rather than a refusal: counted toward kMaxCutsInARow, not a drop.
bool IsCut(long result);

// The reason a failed request gives: kStalled for a timeout, else kFailed.
DropReason FailureReason(long result);

// One mirror given up: why, and the result of the request that showed it.
struct MirrorDrop {
  DropReason reason = DropReason::kNone;
  long result = 0;
};

// The download's result once every mirror is given up (`drops` in the order
// they came): when every one sent bad blocks, the mirrors do not hold the file
// the meta describes and another try will not help; otherwise the last other
// drop decides (an answer that was not the file's range is the engine's bad
// format, a failed request its own result).
long AllDroppedResult(const std::vector<MirrorDrop>& drops);

}  // namespace stubframework::downloader
