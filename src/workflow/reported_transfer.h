// A transfer whose progress a reporter thread publishes to the page, and the
// final call that ends such a job: what the self-update and the installer-list
// workers share with the download worker.
#pragma once

#include <windows.h>

#include "htmlui/page_callback.h"
#include "utils/download_host.h"
#include "workflow/progress_record.h"
#include "workflow/transfer_download_error.h"

namespace stubframework::workflow {

// Starts DownloadProgressThreadFunc on `context`, runs TransferDownloadError
// and returns its code once the reporter has ended. On success the reporter
// has published the whole count first; on failure the code, stored in the
// record, stopped it.
int RunReportedTransfer(ReporterContext& context, const utils::DownloadHost& host, const TransferRequest& request,
                        const TransferSettings& settings);

// The job's end: the record takes `code`, the download counters go back to
// "0" of "1", and the page gets (code, total, current) as last published.
void FinishReportedJob(ReporterContext& context, htmlui::PageCallback& callback, int code);

}  // namespace stubframework::workflow
