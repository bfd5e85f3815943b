// A seeded fault campaign of downloads through the download worker's
// transfer (TransferDownloadError, which runs the blocking helpers): plain
// downloads with their CRC check, block-verified downloads, and block-verified
// downloads whose process is killed part way and then resumed. Every download
// is planned from the seed and its index alone, and the fault server draws
// each request's fault from a key that holds both, so a download is replayed
// by running the same seed and index again.
#pragma once

#include <windows.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "support/test_servers.h"

namespace testsupport::campaign {

enum class Path { kPlain, kVerified, kKilled };
const char* PathName(Path path);

// One download, derived from (seed, index).
struct Plan {
  unsigned seed = 0;
  int index = 0;
  Path path = Path::kPlain;
  std::string fault;          // a chaos kind of tests/support/fault_server.py
  int fault_percent = 0;      // chance that a request gets the fault
  int source = 0;             // which source file
  bool with_crc = false;      // plain: a CRC check follows
  bool fresh = true;          // verified: start without a partial file
  DWORD stop_after_ms = 0;    // an early stop; 0: only the watchdog stops it
  DWORD kill_after_ms = 0;    // killed: when the first process is killed

  std::string Key(const char* run) const;  // the fault server's key of one run
};

Plan MakePlan(unsigned seed, int index);

// The chaos kinds the fault server knows, in its order.
const std::vector<std::string>& FaultKinds();

struct Outcome {
  Plan plan;
  int code = -1;             // error-handle code
  bool identical = false;    // code 0 and the file equals the source
  bool stopped = false;      // a stop was requested before the end
  long stop_ms = -1;         // from the stop request to the end
  long elapsed_ms = 0;
  bool crashed = false;      // the killed path's first process died by itself of an exception
  unsigned child_exit = 0;   // killed path: the first process's exit code (0xFFFFFFFF: killed)

  bool different() const { return code == 0 && !identical; }
  std::string Json() const;
};

// After a stop, a download that has not ended within this long hangs.
inline constexpr DWORD kHangMs = 20000;
// Downloads without an early stop are stopped this long after they start.
inline constexpr DWORD kWatchdogStopMs = 8000;
// A stop that takes longer than this is reported as slow.
inline constexpr long kSlowStopMs = 1000;

class Campaign {
 public:
  // `folder` holds the destinations; `child_exe` runs a block-verified
  // download in a process of its own (tests/utils/verified_download_child).
  Campaign(const testsupport::TestServers& servers, unsigned seed, std::wstring folder, std::wstring child_exe);
  // Removes the folder with whatever the downloads left in it.
  ~Campaign();
  Campaign(const Campaign&) = delete;
  Campaign& operator=(const Campaign&) = delete;

  // Puts the source files and their metas into the servers' document root.
  bool Prepare();
  // Runs download `index`. A download that hangs calls on_hang (which does not
  // return: the thread cannot be taken back).
  Outcome Run(int index);

  std::function<void(const Plan&)> on_hang;

 private:
  int Transfer(const Plan& plan, const std::wstring& url, const std::wstring& dest, bool resume, Outcome* outcome);
  void RunKilledChild(const Plan& plan, const std::wstring& dest, Outcome* outcome);
  std::string SourceName(int source) const;
  bool PutWhole(const std::string& name, const std::string& bytes) const;
  std::wstring ChaosUrl(const Plan& plan, const char* run) const;

  const testsupport::TestServers& servers_;
  unsigned seed_;
  std::wstring folder_;
  std::wstring child_exe_;
  std::vector<std::string> sources_;
  std::vector<std::wstring> crcs_;
};

// Outcomes counted per path and fault kind.
class Report {
 public:
  void Add(const Outcome& outcome);
  std::string Table() const;

  int downloads() const { return downloads_; }
  int different() const { return different_; }
  int slow_stops() const { return slow_stops_; }
  int crashes() const { return crashes_; }
  int identical() const { return identical_; }

 private:
  struct Row {
    int count = 0;
    int identical = 0;
    int different = 0;
    int stops = 0;
    int slow_stops = 0;
    long max_stop_ms = 0;
    int crashes = 0;
    std::map<int, int> failures;  // code -> count
  };
  std::map<std::pair<std::string, std::string>, Row> rows_;
  int downloads_ = 0;
  int different_ = 0;
  int slow_stops_ = 0;
  int crashes_ = 0;
  int identical_ = 0;
};

// The process's peak working set and peak private bytes, in bytes.
void PeakMemory(size_t* working_set, size_t* private_bytes);

}  // namespace testsupport::campaign
