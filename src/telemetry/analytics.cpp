#include "telemetry/analytics.h"

#include <windows.h>

#include <utility>

#include "archive/zip_writer.h"
#include "base/no_follow.h"
#include "base/temp_folder.h"
#include "base/unique_handle.h"
#include "base/wide_format.h"
#include "telemetry/service_client.h"
#include "telemetry/status_words.h"
#include "telemetry/user_activity.h"

namespace stubframework::telemetry {

namespace {

const wchar_t kAnalyticsPath[] = L"/v1/logAnalytics";
const wchar_t kReportErrorPath[] = L"/v1/reportError";
const wchar_t kRegionPath[] = L"/v1/isInEmbargoedCountry";
const wchar_t kArchiveName[] = L"log.zip";

constexpr int kStartedStatus = 0;
constexpr int kCancelledStatus = 3;

// Longer activity texts are not sent (the page's strings may be of any size).
constexpr size_t kMaxActivityChars = 32 * 1024;

// A log archive larger than this is not uploaded.
constexpr LONGLONG kMaxLogArchiveBytes = 64ll << 20;

// Reads the archive just written in a folder of the user's temporary folder,
// through a handle that is that file itself, not a link put in its place.
bool ReadArchive(const std::wstring& folder, const std::wstring& name, std::string* bytes) {
  base::HeldEntry held_folder = base::OpenNoFollow(folder, std::wstring(), FILE_LIST_DIRECTORY,
                                                   FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING);
  if (!held_folder.handle || held_folder.is_link) return false;
  base::HeldEntry file = base::OpenNoFollow(folder + name, base::JoinFinal(held_folder.final_path, name), GENERIC_READ,
                                            FILE_SHARE_READ, OPEN_EXISTING);
  LARGE_INTEGER size;
  if (!file.handle || !file.in_place || !::GetFileSizeEx(file.handle.Get(), &size) ||
      size.QuadPart > kMaxLogArchiveBytes) {
    return false;
  }
  bytes->resize(static_cast<size_t>(size.QuadPart));
  DWORD read = 0;
  return bytes->empty() ||
         (::ReadFile(file.handle.Get(), bytes->data(), static_cast<DWORD>(bytes->size()), &read, nullptr) &&
          read == bytes->size());
}

}  // namespace

Analytics::Analytics(ReportSource* source, const Services& services, base::Log* log, base::WorkerSet* workers)
    : source_(source), services_(services), log_(log), workers_(workers) {}

bool Analytics::Report(bool started) {
  int status = kStartedStatus;
  if (!started) {
    status = source_->Status();
    if (status == kStartedStatus) status = kCancelledStatus;
  }
  std::string document = base::ToUtf8(AnalyticsDocument(source_->Identity(), StatusWord(status)));
  return CallService(services_.telemetry, L"POST", kAnalyticsPath, std::move(document), false, utils::kReportDeadlineMs,
                     log_)
      .accepted();
}

bool Analytics::SendStartReport() { return Report(true); }

bool Analytics::SendClosingReport() { return Report(false); }

bool Analytics::UploadLogs() {
  std::vector<std::wstring> files = log_files_.Snapshot();
  if (files.empty() || !ServiceConfigured(services_.telemetry, L"PUT", kReportErrorPath, log_)) return false;
  std::wstring folder = base::MakeUniqueFolder(base::TemporaryPath());
  if (folder.empty()) return false;
  const std::wstring zip_path = folder + kArchiveName;
  bool zipped = true;
  for (const std::wstring& file : files) {
    if (!archive::AddFileToArchive(zip_path, file)) {
      zipped = false;
      break;
    }
  }
  bool sent = false;
  std::string bytes;
  if (zipped && ReadArchive(folder, kArchiveName, &bytes)) {
    ReportIdentity id = source_->Identity();
    std::wstring path = std::wstring(kReportErrorPath) + L"?token=" + EscapeQueryValue(id.token) +
                        L"&machineId=" + EscapeQueryValue(id.machine_id);
    sent = CallService(services_.telemetry, L"PUT", path, std::move(bytes), false, utils::kLogUploadDeadlineMs, log_)
               .accepted();
  }
  base::DeleteFolderRecursive(folder);
  return sent;
}

int Analytics::ReportWithLogs(bool send_logs) {
  bool ok = Report(!send_logs);
  if (ok && send_logs && source_->Status() == kErrorStatus) ok = UploadLogs();
  return ok ? kReportSent : kReportFailed;
}

RegionReply RegionReplyOf(const ServiceReply& reply) {
  return reply.answered ? ParseRegionReply(reply.body) : RegionReply();
}

RegionReply Analytics::CheckRegion() {
  std::string document = base::ToUtf8(RegionRequestDocument(source_->Identity()));
  ServiceReply reply =
      CallService(services_.telemetry, L"POST", kRegionPath, std::move(document), true, utils::kRegionDeadlineMs, log_);
  return RegionReplyOf(reply);
}

bool Analytics::TrackUserActivity(const std::wstring& activity) {
  if (!ServiceConfigured(services_.telemetry, L"POST", kUserActivityPath, log_)) return false;
  if (activity.size() > kMaxActivityChars) {
    base::LogError(log_, L"Telemetry activity of %u characters not sent", static_cast<unsigned>(activity.size()));
    return false;
  }
  std::string document = base::ToUtf8(UserActivityDocument(source_->Identity(), activity));
  return StartUserActivityReport(workers_, services_.telemetry, std::move(document), activity, log_);
}

}  // namespace stubframework::telemetry
