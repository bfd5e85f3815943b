#include "workflow/progress_reporters.h"

#include "workflow/download_properties.h"
#include "workflow/progress_record.h"

namespace stubframework::workflow {

namespace {

constexpr double kTransferShare = 0.95;
constexpr double kExtractionShare = 0.05;

bool ExtractInDownloadRuns(base::LockedProperties& properties) {
  return properties.GetProperty(kExtractInDownloadProgress) == kTrue;
}

// Rounds to double precision: x87 code keeps wider intermediates, which would
// make 1000 x 0.95 truncate to 949.
double Rounded(double value) {
  volatile double stored = value;
  return stored;
}

// The counters are stored as 32-bit unsigned text and read back signed; the
// record keeps their 32-bit pattern.
uint64_t Low32(long value) { return static_cast<uint32_t>(value); }

}  // namespace

uint64_t ShownTransferCurrent(uint32_t current, bool extract_follows) {
  if (!extract_follows) return current;
  return static_cast<uint64_t>(Rounded(current * kTransferShare));
}

long ExtractionDownloadCurrent(long done, long all, long download_total) {
  // Before the first entry the total may still be 0: nothing shown as done.
  double fraction = all > 0 ? Rounded(done * 10.0 / all) : 0.0;
  double extracted = Rounded(fraction * Rounded(download_total * kExtractionShare));
  return static_cast<long>(Rounded(Rounded(extracted + Rounded(download_total * kTransferShare)) + 0.5));
}

DWORD WINAPI DownloadProgressThreadFunc(void* param) {
  auto* context = static_cast<ReporterContext*>(param);
  base::LockedProperties& properties = context->properties;
  const bool extract_follows = ExtractInDownloadRuns(properties);
  base::ScopedLock hold(context->lock);
  ProgressRecord& record = context->record;
  while (record.result == kRunning) {
    long current = properties.GetDownloadCurrent();
    long total = properties.GetDownloadTotal();
    record.total = Low32(total);
    record.current = ShownTransferCurrent(static_cast<uint32_t>(current), extract_follows);
    context->publish(kRunning, record.total, record.current);
    if (current >= total) {
      properties.SetDownloadCurrent(static_cast<unsigned long>(total));
      record.result = kNoError;  // ends this loop and the worker's wait
    }
    if (record.result != kRunning) break;  // no pause after the last report
    context->lock.Leave();
    context->WaitForNextReport();
    context->lock.Enter();
  }
  return 0;
}

DWORD WINAPI InstallProgressThreadFunc(void* param) {
  auto* context = static_cast<ReporterContext*>(param);
  base::LockedProperties& properties = context->properties;
  const bool extracting = ExtractInDownloadRuns(properties);
  const long download_total = properties.GetDownloadTotal();
  base::ScopedLock hold(context->lock);
  ProgressRecord& record = context->record;
  while (record.result == kRunning) {
    long done = properties.GetInstallCurrent();
    long all = properties.GetInstallTotal();
    record.current = Low32(done);
    record.total = Low32(all);
    if (extracting) {
      properties.SetDownloadCurrent(
          static_cast<unsigned long>(ExtractionDownloadCurrent(done, all, download_total)));
      record.current = Low32(properties.GetDownloadCurrent());
      record.total = Low32(download_total);
    }
    context->publish(kRunning, record.total, record.current);
    if (record.current >= record.total) {
      properties.SetInstallCurrent(static_cast<unsigned long>(record.total));
      record.result = kNoError;
    }
    if (record.result != kRunning) break;  // no pause after the last report
    context->lock.Leave();
    context->WaitForNextReport();
    context->lock.Enter();
  }
  return 0;
}

}  // namespace stubframework::workflow
