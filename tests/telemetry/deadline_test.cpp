// Services that hold a request forever: one that accepts and never answers
// (an HTTPS client then waits in its handshake), one that completes TLS and
// never answers, one that trickles its answer a byte at a time, one whose
// answer never ends (tests/telemetry/hostile_service.py). Each report, the
// region check, the activity event, the pageview and the token exchange end by
// their deadline against each of them, and a whole run still ends in time.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/stub_runner.h"
#include "base/temp_folder.h"
#include "base/wide_format.h"
#include "base/worker_set.h"
#include "telemetry/analytics.h"
#include "telemetry/capture_log.h"
#include "telemetry/pageview.h"
#include "telemetry/telemetry_service.h"
#include "utils/post_bytes.h"
#include "utils/timed_exchange.h"
#include "utils/tokenize_url.h"

namespace stubframework::telemetry {
namespace {

using testsupport::CaptureLog;
using testsupport::WindowsPathOf;

// Time to open and close the handles and to start a thread, beyond a deadline.
constexpr DWORD kMarginMs = 2000;

std::string ReadShared(const std::wstring& path) {
  HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return std::string();
  std::string text;
  char buffer[4096];
  DWORD read = 0;
  while (::ReadFile(file, buffer, sizeof(buffer), &read, nullptr) && read > 0) text.append(buffer, read);
  ::CloseHandle(file);
  return text;
}

// The running hostile services, read from the folder the fixture names.
class HostileServices {
 public:
  static const HostileServices* Get(std::string* error) {
    static HostileServices services;
    static std::string failure = [] {
      const char* dir = std::getenv("STUB_HOSTILE_TEST_DIR");
      if (dir == nullptr) return std::string("STUB_HOSTILE_TEST_DIR is not set (run the test through CTest)");
      std::istringstream env(ReadShared(WindowsPathOf(std::string(dir) + "/hostile.env")));
      std::string line;
      while (std::getline(env, line)) {
        size_t eq = line.find('=');
        if (eq != std::string::npos) services.values_[line.substr(0, eq)] = line.substr(eq + 1);
      }
      if (services.Port("accept") == 0) return std::string("no hostile.env: the hostile_services fixture did not run");
      return std::string();
    }();
    if (!failure.empty()) {
      *error = failure;
      return nullptr;
    }
    return &services;
  }

  unsigned short Port(const std::string& behaviour) const {
    auto found = values_.find(behaviour + "_port");
    return found == values_.end() ? 0 : static_cast<unsigned short>(std::atoi(found->second.c_str()));
  }
  // Connections the behaviour has accepted so far.
  size_t Accepted(const std::string& behaviour) const {
    auto found = values_.find("record");
    if (found == values_.end()) return 0;
    std::istringstream record(ReadShared(WindowsPathOf(found->second)));
    std::string line;
    size_t count = 0;
    while (std::getline(record, line)) {
      if (line.rfind(behaviour + "\t", 0) == 0 && line.find("\taccept\t") != std::string::npos) ++count;
    }
    return count;
  }

 private:
  std::map<std::string, std::string> values_;
};

class FixedSource final : public ReportSource {
 public:
  ReportIdentity Identity() override {
    ReportIdentity id;
    id.token = L"7D1A5B7E-0000-4000-8000-00000000ABCD";
    id.machine_id = L"P-1";
    return id;
  }
  int Status() override { return 2; }
};

struct Outcome {
  bool succeeded = false;
  DWORD elapsed_ms = 0;
};

// One operation against a service on `port` (TLS for the telemetry service
// and the token exchange, plain HTTP for the pageview collector).
struct Operation {
  const char* name;
  DWORD deadline_ms;
  bool secure;
  std::function<bool(unsigned short port, CaptureLog* log)> run;
};

const wchar_t kTimedOutLine[] = L"failed: no answer within ";

std::vector<Operation> Operations(const std::wstring& log_file) {
  auto analytics_on = [](unsigned short port, CaptureLog* log, const std::function<bool(Analytics&)>& act) {
    static FixedSource source;
    Services services;
    services.telemetry = {L"localhost", port, true};
    Analytics analytics(&source, services, log);
    return act(analytics);
  };
  return {
      {"start report", utils::kReportDeadlineMs, true,
       [=](unsigned short port, CaptureLog* log) {
         return analytics_on(port, log, [](Analytics& a) { return a.SendStartReport(); });
       }},
      {"end report", utils::kReportDeadlineMs, true,
       [=](unsigned short port, CaptureLog* log) {
         return analytics_on(port, log, [](Analytics& a) { return a.SendClosingReport(); });
       }},
      {"log upload", utils::kLogUploadDeadlineMs, true,
       [=](unsigned short port, CaptureLog* log) {
         return analytics_on(port, log, [&](Analytics& a) {
           a.AddUploadFile(log_file);
           return a.UploadLogs();
         });
       }},
      {"region check", utils::kRegionDeadlineMs, true,
       [=](unsigned short port, CaptureLog* log) {
         return analytics_on(port, log, [](Analytics& a) { return !a.CheckRegion().country.empty(); });
       }},
      {"pageview", utils::kPageviewDeadlineMs, false,
       [](unsigned short port, CaptureLog* log) {
         return PostPageview({L"127.0.0.1", port, false}, L"v=1&t=event", log) == L"OK";
       }},
      {"token exchange", utils::kTokenDeadlineMs, true,
       [](unsigned short port, CaptureLog*) {
         std::wstring url = L"http://cdn/x.bin";
         bool tokenized = utils::TokenizeUrlAt(L"https://localhost:" + std::to_wstring(port) + L"/v1/token", url);
         return tokenized && url != L"http://cdn/x.bin";
       }},
  };
}

class DeadlineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    hostile_ = HostileServices::Get(&error);
    ASSERT_NE(hostile_, nullptr) << error;
    folder_ = base::MakeUniqueFolder(base::TemporaryPath());
    ASSERT_FALSE(folder_.empty());
    log_file_ = folder_ + L"run.txt";
    HANDLE f = ::CreateFileW(log_file_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(f, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    ::WriteFile(f, "log", 3, &written, nullptr);
    ::CloseHandle(f);
  }
  void TearDown() override { base::DeleteFolderRecursive(folder_); }

  Outcome Run(const Operation& op, unsigned short port, CaptureLog* log) {
    const DWORD start = ::GetTickCount();
    Outcome outcome;
    outcome.succeeded = op.run(port, log);
    outcome.elapsed_ms = ::GetTickCount() - start;
    std::printf("  %-15s %.1f s\n", op.name, outcome.elapsed_ms / 1000.0);
    return outcome;
  }

  // Every operation against a service that never lets the request finish:
  // each fails once its own deadline has passed (not earlier: the deadline,
  // not some other error, ended it), no later than the margin after it, and
  // the log names the missed deadline.
  void ExpectEveryOperationEndsAtItsDeadline(const std::string& tls_behaviour, const std::string& plain_behaviour) {
    // The operations are independent (each its own connection and log), so
    // they run side by side: the test takes the longest deadline, not the sum.
    const std::vector<Operation> ops = Operations(log_file_);
    std::map<std::string, size_t> accepted_before;
    std::map<std::string, size_t> started;
    for (const Operation& op : ops) {
      const std::string behaviour = op.secure ? tls_behaviour : plain_behaviour;
      accepted_before.emplace(behaviour, hostile_->Accepted(behaviour));
      ++started[behaviour];
    }
    std::vector<Outcome> outcomes(ops.size());
    std::vector<CaptureLog> logs(ops.size());
    std::vector<std::thread> threads;
    for (size_t i = 0; i < ops.size(); ++i) {
      const std::string behaviour = ops[i].secure ? tls_behaviour : plain_behaviour;
      const unsigned short port = hostile_->Port(behaviour);
      threads.emplace_back([&, i, port] { outcomes[i] = Run(ops[i], port, &logs[i]); });
    }
    for (std::thread& thread : threads) thread.join();
    for (size_t i = 0; i < ops.size(); ++i) {
      const Operation& op = ops[i];
      SCOPED_TRACE(op.name);
      EXPECT_FALSE(outcomes[i].succeeded);
      EXPECT_GE(outcomes[i].elapsed_ms + 100, op.deadline_ms);
      EXPECT_LE(outcomes[i].elapsed_ms, op.deadline_ms + kMarginMs);
      if (op.name != std::string("token exchange")) {  // the token exchange logs nothing
        EXPECT_TRUE(logs[i].Has(kTimedOutLine + std::to_wstring(op.deadline_ms / 1000) + L" s (")) << op.name;
      }
    }
    for (const auto& [behaviour, count] : started) {
      EXPECT_GE(hostile_->Accepted(behaviour), accepted_before[behaviour] + count)
          << "every request reached the service " << behaviour;
    }
  }

  const HostileServices* hostile_ = nullptr;
  std::wstring folder_;
  std::wstring log_file_;
};

TEST_F(DeadlineTest, AServiceThatAcceptsAndNeverAnswersHoldsNoOperationPastItsDeadline) {
  ExpectEveryOperationEndsAtItsDeadline("accept", "accept");
}

TEST_F(DeadlineTest, AServiceThatCompletesTlsAndNeverAnswersHoldsNoOperationPastItsDeadline) {
  ExpectEveryOperationEndsAtItsDeadline("tls_silent", "accept");
}

TEST_F(DeadlineTest, AnAnswerTrickledAByteAtATimeHoldsNoOperationPastItsDeadline) {
  // Each byte comes well within any receive timeout; only the whole deadline ends it.
  ExpectEveryOperationEndsAtItsDeadline("tls_trickle", "trickle");
}

TEST_F(DeadlineTest, AnEndlessAnswerIsReadOnlyToItsBound) {
  // The reports do not read the answer and take its 200; the readers stop at
  // their bound: the region reply has no country, the pageview reads 64 KiB,
  // the token exchange refuses an answer over 1 MiB. None waits for the end.
  const std::map<std::string, bool> succeeds = {{"start report", true}, {"end report", true},
                                                {"log upload", true},   {"region check", false},
                                                {"pageview", true},     {"token exchange", false}};
  for (const Operation& op : Operations(log_file_)) {
    SCOPED_TRACE(op.name);
    CaptureLog log;
    Outcome outcome = Run(op, hostile_->Port(op.secure ? "tls_endless" : "endless"), &log);
    EXPECT_EQ(outcome.succeeded, succeeds.at(op.name));
    EXPECT_LT(outcome.elapsed_ms, op.deadline_ms) << "ended by its bound, not its deadline";
    EXPECT_FALSE(log.Has(kTimedOutLine));
  }
}

TEST_F(DeadlineTest, UserActivityReturnsAtOnceAndItsThreadGivesUpAtTheDeadline) {
  FixedSource source;
  for (const char* behaviour : {"accept", "tls_silent", "tls_trickle"}) {
    SCOPED_TRACE(behaviour);
    Services services;
    services.telemetry = {L"localhost", hostile_->Port(behaviour), true};
    CaptureLog log;
    base::WorkerSet workers;  // the run's, which the activity thread joins
    Analytics analytics(&source, services, &log, &workers);
    const DWORD start = ::GetTickCount();
    ASSERT_TRUE(analytics.TrackUserActivity(L"clicked"));
    EXPECT_LT(::GetTickCount() - start, 500u) << "the page does not wait";
    const wchar_t kFailed[] = L"TrackUserActivityTreadFunc track activity:clicked failed!";
    while (!log.Has(kFailed) && ::GetTickCount() - start < utils::kActivityDeadlineMs + kMarginMs) ::Sleep(50);
    EXPECT_TRUE(log.Has(kFailed));
    EXPECT_TRUE(log.Has(L"failed: no answer within 5 s ("));
    EXPECT_GE(::GetTickCount() - start + 100, utils::kActivityDeadlineMs);
    EXPECT_EQ(workers.StopAndJoin(utils::kActivityDeadlineMs + kMarginMs), 0u);
  }
}

TEST(ExchangeStepNames, EveryStepHasItsOwnName) {
  const utils::ExchangeStep steps[] = {utils::ExchangeStep::kOpen,         utils::ExchangeStep::kSend,
                                       utils::ExchangeStep::kResponse,     utils::ExchangeStep::kAvailability,
                                       utils::ExchangeStep::kRead,         utils::ExchangeStep::kDone};
  std::map<std::wstring, int> seen;
  for (utils::ExchangeStep step : steps) ++seen[utils::ExchangeStepName(step)];
  EXPECT_EQ(seen.size(), 6u);
}

// A whole run (no window under Wine: status 2, so start report, end report
// and log upload) against a service that never answers ends within the sum
// of the three deadlines, and its kept log says which deadline each missed.
class RunDeadlineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    hostile_ = HostileServices::Get(&error);
    ASSERT_NE(hostile_, nullptr) << error;
  }
  void TearDown() override { ::SetEnvironmentVariableW(L"STUB_TEST_TELEMETRY", nullptr); }

  const HostileServices* hostile_ = nullptr;
};

TEST_F(RunDeadlineTest, ARunAgainstAServiceThatNeverAnswersEndsWithinTheDeadlines) {
  // Start-up and the run itself take a few seconds of their own under Wine.
  const DWORD kRunAllowanceMs = 10000;
  for (const char* behaviour : {"accept", "tls_trickle"}) {
    SCOPED_TRACE(behaviour);
    std::wstring temp = testsupport::EnterTempFolder();
    ASSERT_FALSE(temp.empty());
    testsupport::ClearProductSettings();
    std::wstring endpoint = L"localhost:" + std::to_wstring(hostile_->Port(behaviour));
    ::SetEnvironmentVariableW(L"STUB_TEST_TELEMETRY", endpoint.c_str());
    const DWORD start = ::GetTickCount();
    EXPECT_EQ(testsupport::RunAndWait(testsupport::StubPath(), L"run=1"), 2147483647u);
    const DWORD elapsed = ::GetTickCount() - start;
    std::printf("  whole run against %s: %.1f s\n", behaviour, elapsed / 1000.0);
    EXPECT_LE(elapsed, 2 * utils::kReportDeadlineMs + utils::kLogUploadDeadlineMs + kRunAllowanceMs);
    std::vector<std::wstring> kept = testsupport::ListFolder(temp + L"Tessary_log");
    ASSERT_EQ(kept.size(), 1u);
    std::string log = testsupport::ReadWholeFile(temp + L"Tessary_log\\" + kept[0]);
    EXPECT_NE(log.find("Telemetry service POST /v1/logAnalytics failed: no answer within 5 s ("), std::string::npos)
        << log;
    testsupport::LeaveTempFolder(temp);
    testsupport::ClearProductSettings();
  }
}

}  // namespace
}  // namespace stubframework::telemetry
