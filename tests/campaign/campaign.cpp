#include "campaign/campaign.h"

#include <psapi.h>
#include <zlib.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <random>
#include <sstream>
#include <thread>

#include "base/temp_folder.h"
#include "base/unique_handle.h"
#include "downloader/download_test_util.h"
#include "utils/utils_test_util.h"
#include "workflow/download_thread.h"
#include "workflow/transfer_download_error.h"

namespace testsupport::campaign {

namespace {

namespace workflow = stubframework::workflow;
using stubframework::base::UniqueHandle;
using Clock = std::chrono::steady_clock;

// Sources 0 and 1 are the plain path's, 2 and 3 the block-verified paths'
// (a short last block, and whole blocks only).
constexpr size_t kSourceSizes[] = {300000, 700001, 1048576 + 777, 3 * 1048576};
constexpr int kSourceCount = sizeof(kSourceSizes) / sizeof(kSourceSizes[0]);
constexpr int kFaultPercents[] = {30, 60, 100};
constexpr unsigned kExitKilled = 0xFFFFFFFF;

long MsSince(Clock::time_point start) {
  return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

bool IsStallKind(const std::string& fault) { return fault == "stall" || fault == "silent"; }

// An exception code as a process's exit code (access violation, stack
// overflow, ...): what a crash leaves.
bool IsExceptionExit(unsigned code) { return code != kExitKilled && (code & 0xF0000000u) == 0xC0000000u; }

std::wstring Widen(const std::string& text) { return std::wstring(text.begin(), text.end()); }

}  // namespace

const char* PathName(Path path) {
  switch (path) {
    case Path::kPlain: return "plain";
    case Path::kVerified: return "verified";
    case Path::kKilled: return "verified-killed";
  }
  return "?";
}

const std::vector<std::string>& FaultKinds() {
  static const std::vector<std::string> kinds = {
      "clean",   "drop",     "flip",     "range200", "etag",    "badrange",   "nolength",   "headersonly",
      "stall",   "status404", "status500", "redirect", "html200", "unasked206", "chunkedcut", "silent"};
  return kinds;
}

std::string Plan::Key(const char* run) const {
  return "c" + std::to_string(seed) + "-" + std::to_string(index) + "-" + run;
}

Plan MakePlan(unsigned seed, int index) {
  std::seed_seq sequence{seed, static_cast<unsigned>(index), 0x5eedu};
  std::mt19937 random(sequence);
  auto below = [&random](unsigned n) { return static_cast<int>(random() % n); };
  Plan plan;
  plan.seed = seed;
  plan.index = index;
  int path = below(100);
  plan.path = path < 50 ? Path::kPlain : path < 92 ? Path::kVerified : Path::kKilled;
  plan.fault = FaultKinds()[below(static_cast<unsigned>(FaultKinds().size()))];
  plan.fault_percent = kFaultPercents[below(3)];
  plan.source = plan.path == Path::kPlain ? below(2) : 2 + below(2);
  if (plan.path == Path::kKilled) plan.source = 3;  // long enough to be killed inside the transfer
  // Only a CRC can tell a flipped byte in a plain download.
  plan.with_crc = plan.fault == "flip" || below(2) == 0;
  plan.fresh = plan.path == Path::kKilled || below(2) == 0;
  if (IsStallKind(plan.fault)) {
    plan.stop_after_ms = 200 + below(1800);
  } else if (below(4) == 0) {
    plan.stop_after_ms = 50 + below(1450);
  }
  plan.kill_after_ms = 100 + below(1100);
  return plan;
}

std::string Outcome::Json() const {
  char line[512];
  snprintf(line, sizeof(line),
           "{\"seed\":%u,\"i\":%d,\"path\":\"%s\",\"fault\":\"%s\",\"pct\":%d,\"crc\":%s,\"code\":%d,"
           "\"identical\":%s,\"different\":%s,\"stopped\":%s,\"stop_ms\":%ld,\"ms\":%ld,\"crash\":%s,"
           "\"child_exit\":%u}",
           plan.seed, plan.index, PathName(plan.path), plan.fault.c_str(), plan.fault_percent,
           plan.with_crc ? "true" : "false", code, identical ? "true" : "false", different() ? "true" : "false",
           stopped ? "true" : "false", stop_ms, elapsed_ms, crashed ? "true" : "false", child_exit);
  return line;
}

Campaign::Campaign(const testsupport::TestServers& servers, unsigned seed, std::wstring folder,
                   std::wstring child_exe)
    : servers_(servers), seed_(seed), folder_(std::move(folder)), child_exe_(std::move(child_exe)) {}

std::string Campaign::SourceName(int source) const {
  return "campaign-" + std::to_string(seed_) + "-" + std::to_string(source) + ".bin";
}

// Written beside and renamed over, so that slices running side by side never
// serve each other a half-written source.
bool Campaign::PutWhole(const std::string& name, const std::string& bytes) const {
  const std::string temporary = name + ".part" + std::to_string(::GetCurrentProcessId());
  for (int attempt = 0; attempt < 5; ++attempt) {
    if (testsupport::ReadWholeFile(servers_.DocPath(name)) == bytes) return true;  // another slice put it
    if (servers_.PutFile(temporary, bytes) &&
        ::MoveFileExW(servers_.DocPath(temporary).c_str(), servers_.DocPath(name).c_str(), MOVEFILE_REPLACE_EXISTING)) {
      return true;
    }
    ::Sleep(100);
  }
  ::DeleteFileW(servers_.DocPath(temporary).c_str());
  return testsupport::ReadWholeFile(servers_.DocPath(name)) == bytes;
}

Campaign::~Campaign() { stubframework::base::DeleteFolderRecursive(stubframework::base::WithTrailingBackslash(folder_)); }

bool Campaign::Prepare() {
  ::CreateDirectoryW(folder_.c_str(), nullptr);
  sources_.clear();
  crcs_.clear();
  for (int k = 0; k < kSourceCount; ++k) {
    std::string data = testsupport::NoisyBytes(kSourceSizes[k], seed_ * 31u + static_cast<unsigned>(k) + 1u);
    const std::string name = SourceName(k);
    if (!PutWhole(name, data) || !PutWhole(name + ".meta", testsupport::MakeMeta(data))) return false;
    uLong crc = crc32(0L, Z_NULL, 0);
    crc = crc32(crc, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size()));
    crcs_.push_back(std::to_wstring(static_cast<unsigned long>(crc)));
    sources_.push_back(std::move(data));
  }
  return true;
}

std::wstring Campaign::ChaosUrl(const Plan& plan, const char* run) const {
  std::string percent = std::to_string(plan.fault_percent);
  // The first run of the killed path is paced and clean, so that its kill
  // lands inside the transfer; the resumed run gets the faults.
  if (std::string(run) == "child") percent = "0s";
  return servers_.FaultUrl("/chaos/" + plan.Key(run) + "/" + plan.fault + "/" + percent + "/" + SourceName(plan.source));
}

int Campaign::Transfer(const Plan& plan, const std::wstring& url, const std::wstring& dest, bool resume,
                       Outcome* outcome) {
  testsupport::TestHost host;
  workflow::TransferSettings settings;
  settings.retry_pause_ms = 10;
  settings.receive_timeout_ms = 1500;
  workflow::TransferRequest request{url, dest, false, resume, !resume && plan.with_crc};

  std::atomic<bool> done{false};
  std::atomic<bool> stopped{false};
  Clock::time_point stopped_at;
  const Clock::time_point started = Clock::now();
  std::thread watchdog([&] {
    const long stop_at = static_cast<long>(plan.stop_after_ms != 0 ? plan.stop_after_ms : kWatchdogStopMs);
    while (!done && MsSince(started) < stop_at) ::Sleep(5);
    if (done) return;
    stopped_at = Clock::now();
    stopped = true;
    host.cancel = true;
    while (!done && MsSince(stopped_at) < static_cast<long>(kHangMs)) ::Sleep(5);
    if (!done && on_hang) on_hang(plan);
  });
  int code = workflow::TransferDownloadError(host.host(), request, settings);
  const Clock::time_point ended = Clock::now();
  done = true;
  watchdog.join();
  if (code == workflow::kNoError && request.crc_follows) {
    code = workflow::CheckDownloadedCrc(nullptr, dest, crcs_[plan.source]);
  }
  if (stopped) {
    outcome->stopped = true;
    outcome->stop_ms =
        static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(ended - stopped_at).count());
  }
  return code;
}

void Campaign::RunKilledChild(const Plan& plan, const std::wstring& dest, Outcome* outcome) {
  const std::wstring url = ChaosUrl(plan, "child");
  const std::wstring sidecar = dest + L".progress";
  std::wstring command = L"\"" + child_exe_ + L"\" \"" + url + L"\" \"" + url + L".meta\" \"" + dest + L"\" \"" +
                         sidecar + L"\"";
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  if (!::CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
    outcome->child_exit = 0xFFFFFFFE;
    return;
  }
  ::CloseHandle(process.hThread);
  UniqueHandle child(process.hProcess);
  if (::WaitForSingleObject(child.Get(), plan.kill_after_ms) == WAIT_OBJECT_0) {
    DWORD code = 0;
    ::GetExitCodeProcess(child.Get(), &code);
    outcome->child_exit = code;
    outcome->crashed = IsExceptionExit(code);
  } else {
    ::TerminateProcess(child.Get(), kExitKilled);
    ::WaitForSingleObject(child.Get(), INFINITE);
    outcome->child_exit = kExitKilled;
  }
  ::DeleteFileW(sidecar.c_str());
}

Outcome Campaign::Run(int index) {
  Outcome outcome;
  outcome.plan = MakePlan(seed_, index);
  const Plan& plan = outcome.plan;
  const Clock::time_point started = Clock::now();
  const std::wstring dest = folder_ + L"\\" + Widen(PathName(plan.path)) + L".bin";
  if (plan.path == Path::kPlain || plan.fresh) ::DeleteFileW(dest.c_str());
  switch (plan.path) {
    case Path::kPlain:
      outcome.code = Transfer(plan, ChaosUrl(plan, "run"), dest, false, &outcome);
      break;
    case Path::kVerified:
      outcome.code = Transfer(plan, ChaosUrl(plan, "run"), dest, true, &outcome);
      break;
    case Path::kKilled:
      RunKilledChild(plan, dest, &outcome);
      outcome.code = Transfer(plan, ChaosUrl(plan, "resume"), dest, true, &outcome);
      break;
  }
  outcome.elapsed_ms = MsSince(started);
  outcome.identical = outcome.code == workflow::kNoError && testsupport::ReadWholeFile(dest) == sources_[plan.source];
  return outcome;
}

void Report::Add(const Outcome& outcome) {
  Row& row = rows_[{PathName(outcome.plan.path), outcome.plan.fault}];
  ++row.count;
  ++downloads_;
  if (outcome.identical) {
    ++row.identical;
    ++identical_;
  } else if (outcome.different()) {
    ++row.different;
    ++different_;
  } else {
    ++row.failures[outcome.code];
  }
  if (outcome.stopped) {
    ++row.stops;
    if (outcome.stop_ms > row.max_stop_ms) row.max_stop_ms = outcome.stop_ms;
    if (outcome.stop_ms > kSlowStopMs) {
      ++row.slow_stops;
      ++slow_stops_;
    }
  }
  if (outcome.crashed) {
    ++row.crashes;
    ++crashes_;
  }
}

std::string Report::Table() const {
  std::ostringstream out;
  char line[256];
  snprintf(line, sizeof(line), "%-16s %-12s %5s %6s %5s %5s %5s %7s %5s  %s\n", "path", "fault", "n", "same",
           "DIFF", "stops", ">1s", "max ms", "crash", "failure codes (code x count)");
  out << line;
  for (const auto& [key, row] : rows_) {
    std::string codes;
    for (const auto& [code, count] : row.failures) codes += std::to_string(code) + "x" + std::to_string(count) + " ";
    snprintf(line, sizeof(line), "%-16s %-12s %5d %6d %5d %5d %5d %7ld %5d  %s\n", key.first.c_str(),
             key.second.c_str(), row.count, row.identical, row.different, row.stops, row.slow_stops,
             row.max_stop_ms, row.crashes, codes.c_str());
    out << line;
  }
  return out.str();
}

void PeakMemory(size_t* working_set, size_t* private_bytes) {
  PROCESS_MEMORY_COUNTERS counters = {};
  counters.cb = sizeof(counters);
  *working_set = 0;
  *private_bytes = 0;
  if (::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof(counters))) {
    *working_set = counters.PeakWorkingSetSize;
    *private_bytes = counters.PeakPagefileUsage;
  }
}

}  // namespace testsupport::campaign
