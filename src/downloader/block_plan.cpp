#include "downloader/block_plan.h"

#include <algorithm>

#include "downloader/result_codes.h"

namespace stubframework::downloader {
namespace {
// WinINet's "the operation timed out" as a result, and the socket's (what
// Wine reports when the receive timeout ends a read).
constexpr long kResultTimeout = static_cast<long>(0x80072EE2);
constexpr long kResultSocketTimeout = static_cast<long>(0x8007274C);
// WinINet's "connection aborted" and "connection reset".
constexpr long kResultConnectionAborted = static_cast<long>(0x80072EFE);
constexpr long kResultConnectionReset = static_cast<long>(0x80072EFF);
}  // namespace

size_t RunLength(size_t missing, int connections) {
  size_t share = static_cast<size_t>(std::max(connections, 1));
  return std::min((missing + share - 1) / share, kMaxRunBlocks);
}

BlockRun NextRun(const std::vector<BlockState>& states, size_t length) {
  BlockRun run;
  auto first = std::find(states.begin(), states.end(), BlockState::kMissing);
  if (first == states.end()) return run;
  run.first = static_cast<size_t>(first - states.begin());
  while (run.first + run.count < states.size() && run.count < length &&
         states[run.first + run.count] == BlockState::kMissing) {
    ++run.count;
  }
  return run;
}

Steal ChooseSteal(const std::vector<PendingRun>& runs, size_t unverified) {
  Steal steal;
  size_t most = 0;
  size_t holders = 0;  // runs with a block left
  for (size_t i = 0; i < runs.size(); ++i) {
    size_t left = runs[i].end > runs[i].next ? runs[i].end - runs[i].next : 0;
    if (left > 0) ++holders;
    if (left <= most) continue;
    most = left;
    steal.victim = static_cast<int>(i);
  }
  if (most == 1 && unverified == 1 && holders == 1) {
    steal.run.first = runs[static_cast<size_t>(steal.victim)].next;
    steal.run.count = 1;
    steal.copy = true;
    return steal;
  }
  if (most < 2) return Steal();
  const PendingRun& run = runs[static_cast<size_t>(steal.victim)];
  size_t keep = (most + 1) / 2;
  steal.run.first = run.next + keep;
  steal.run.count = most - keep;
  return steal;
}

int64 RunBegin(const BlockRun& run) { return static_cast<int64>(run.first) * kBlockSize; }

int64 RunEnd(const BlockRun& run, int64 size) {
  return std::min(static_cast<int64>(run.first + run.count) * kBlockSize, size);
}

int ChooseMirror(const std::vector<MirrorLoad>& mirrors) {
  int best = -1;
  for (size_t i = 0; i < mirrors.size(); ++i) {
    if (mirrors[i].dropped) continue;
    if (best < 0 || mirrors[i].in_flight < mirrors[static_cast<size_t>(best)].in_flight) best = static_cast<int>(i);
  }
  return best;
}

const wchar_t* DropReasonText(DropReason reason) {
  switch (reason) {
    case DropReason::kNone:
      return L"none";
    case DropReason::kBadBlock:
      return L"a block did not verify";
    case DropReason::kErrorAnswer:
      return L"an error answer";
    case DropReason::kEtagChanged:
      return L"its ETag changed";
    case DropReason::kStalled:
      return L"it stalled past the receive timeout";
    case DropReason::kFailed:
      return L"the request failed";
    case DropReason::kCutTooOften:
      return L"its answers broke off too often";
  }
  return L"unknown";
}

DropReason JudgeAnswer(int status, int64 range_offset, int64 range_total, const std::string& etag,
                       int64 offset, int64 size, const std::string& known_etag) {
  if (status == 206) {
    if (range_offset != offset || (range_total >= 0 && range_total != size)) return DropReason::kErrorAnswer;
  } else if (status == 200) {
    // A server that ignores ranges can serve only a run from the first byte.
    if (offset != 0 || (range_total >= 0 && range_total != size)) return DropReason::kErrorAnswer;
  } else {
    return DropReason::kErrorAnswer;
  }
  if (!known_etag.empty() && etag != known_etag) return DropReason::kEtagChanged;
  return DropReason::kNone;
}

bool IsCut(long result) {
  return result >= 0 || result == kResultShortRead || result == kResultConnectionAborted ||
         result == kResultConnectionReset;
}

DropReason FailureReason(long result) {
  return result == kResultTimeout || result == kResultSocketTimeout ? DropReason::kStalled : DropReason::kFailed;
}

long AllDroppedResult(const std::vector<MirrorDrop>& drops) {
  for (auto drop = drops.rbegin(); drop != drops.rend(); ++drop) {
    switch (drop->reason) {
      case DropReason::kBadBlock:
      case DropReason::kNone:
        continue;
      case DropReason::kErrorAnswer:
      case DropReason::kEtagChanged:
      case DropReason::kCutTooOften:
        return kResultBadFormat;
      case DropReason::kStalled:
      case DropReason::kFailed:
        return drop->result < 0 ? drop->result : kResultBadFormat;
    }
  }
  return drops.empty() ? kResultFail : kResultBlockUnverifiable;
}

}  // namespace stubframework::downloader
