// Reports to the telemetry service: the start and end of a run, the zipped
// logs of a failed run, the region check and the page's activity events.
// Reports are fire-and-forget: nothing is retried, and only the region reply
// is read.
#pragma once

#include <string>
#include <vector>

#include "base/log.h"
#include "base/worker_set.h"
#include "telemetry/log_file_list.h"
#include "telemetry/report_documents.h"
#include "telemetry/report_source.h"
#include "telemetry/service_client.h"
#include "telemetry/service_endpoint.h"

namespace stubframework::telemetry {

// ReportWithLogs' answers.
inline constexpr int kReportSent = 0;
inline constexpr int kReportFailed = 300;

// The status that sends the logs with the end report.
inline constexpr int kErrorStatus = 2;

// The region check reads whatever the service answered, whatever its status
// (a refusal may still name the country); without an answer it is empty.
RegionReply RegionReplyOf(const ServiceReply& reply);

class Analytics {
 public:
  // `source`, `log` and `workers` (the last two may be null) outlive this
  // object; `workers` owns the activity threads (none: no activity is sent).
  Analytics(ReportSource* source, const Services& services, base::Log* log, base::WorkerSet* workers = nullptr);
  Analytics(const Analytics&) = delete;
  Analytics& operator=(const Analytics&) = delete;

  // The analytics document with status "started".
  bool SendStartReport();
  // The analytics document with the run's status (0 is reported as 3, cancelled).
  bool SendClosingReport();
  // Zips the listed files into "log.zip" and uploads it; false when the list
  // is empty or a file cannot be added.
  bool UploadLogs();
  // The analytics document ("started" without `send_logs`, else the run's
  // status); with `send_logs` and status 2 the logs follow. kReportSent or kReportFailed.
  int ReportWithLogs(bool send_logs);

  // Asks whether the user's region is restricted; an empty reply when the
  // service does not answer (RegionReplyOf).
  RegionReply CheckRegion();
  // Sends the page's event from a thread of its own; false when none started.
  bool TrackUserActivity(const std::wstring& activity);

  // Files for UploadLogs.
  void AddUploadFile(const std::wstring& path) { log_files_.Append(path); }
  LogFileList& log_files() { return log_files_; }
  std::vector<std::wstring> upload_files() const { return log_files_.Snapshot(); }

  const Services& services() const { return services_; }

 private:
  bool Report(bool started);

  ReportSource* source_;
  Services services_;
  base::Log* log_;
  base::WorkerSet* workers_;
  LogFileList log_files_;
};

}  // namespace stubframework::telemetry
