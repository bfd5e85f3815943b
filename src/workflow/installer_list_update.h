// Refreshing the component list from the network: the new list is downloaded
// beside the old one under a temporary name and replaces it by a rename only
// when the transfer succeeded, so a failed refresh leaves the old list as it was.
#pragma once

#include <windows.h>

#include <string>

#include "htmlui/page_callback.h"
#include "workflow/transfer_download_error.h"
#include "workflow/worker_host.h"

namespace stubframework::workflow {

// `download_file` with "__NEW_FILE__" before the last "." of its file name
// (installerlist.js -> installerlist__NEW_FILE__.js), or at its end when the
// file name has no ".": the temporary is never the list itself.
std::wstring NewListFile(const std::wstring& download_file);

// One updateInstallerList call. Created by the script method, owned and freed by the worker.
struct InstallerListJob {
  WorkerHost host;
  std::wstring url;
  std::wstring download_file;
  bool is_secure = false;
  bool is_resume = false;
  htmlui::CallbackStream callback_stream;
  // The product leaves it as it is; tests shorten the retry pause.
  TransferSettings transfer;
};

// `param` is an InstallerListJob created with new; the worker owns and frees
// it. The page's function gets (kRunning, total, current) while the list
// downloads and (code, total, current) once at the end; a new list that
// cannot take the old one's place is kFailure.
DWORD WINAPI UpdateInstallerListThreadFunc(void* param);

}  // namespace stubframework::workflow
