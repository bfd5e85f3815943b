#include "workflow/reported_transfer.h"

#include "base/unique_handle.h"
#include "workflow/download_thread.h"
#include "workflow/progress_reporters.h"

namespace stubframework::workflow {

int RunReportedTransfer(ReporterContext& context, const utils::DownloadHost& host, const TransferRequest& request,
                        const TransferSettings& settings) {
  base::UniqueHandle reporter(::CreateThread(nullptr, 0, DownloadProgressThreadFunc, &context, 0, nullptr));
  int code = TransferDownloadError(host, request, settings);
  if (code == kNoError) {
    CompleteTransferCount(context.properties);
    if (reporter) {
      // The count is whole: the reporter publishes it, stores kNoError and
      // ends (joined below).
      context.Wake();
    } else {
      context.SetResult(kNoError);
    }
  } else {
    context.SetResult(code);
  }
  if (reporter) ::WaitForSingleObject(reporter.Get(), INFINITE);
  return code;
}

void FinishReportedJob(ReporterContext& context, htmlui::PageCallback& callback, int code) {
  ProgressRecord last;
  {
    base::ScopedLock hold(context.lock);
    context.record.result = code;
    last = context.record;
  }
  context.properties.SetDownloadCurrent(0);
  context.properties.SetDownloadTotal(1);
  callback.Call(code, last.total, last.current);
}

}  // namespace stubframework::workflow
