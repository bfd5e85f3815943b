// One `download` call: what the script method hands to its worker thread.
#pragma once

#include <windows.h>

#include <string>

#include "htmlui/page_callback.h"
#include "workflow/transfer_download_error.h"
#include "workflow/worker_host.h"

namespace stubframework::workflow {

// Answers the file-system flags of a volume root such as "C:\"; false when
// they cannot be read.
using VolumeFlagsQuery = bool (*)(const std::wstring& root, DWORD* flags);
bool QueryVolumeFlags(const std::wstring& root, DWORD* flags);

// Created by the script method, owned and freed by the worker.
struct DownloadJob {
  WorkerHost host;
  bool is_resume = false;
  bool is_secure = false;
  std::wstring crc;  // expected CRC-32 as unsigned decimal text, or empty
  std::wstring download_file;
  std::wstring url;
  htmlui::CallbackStream callback_stream;  // the page's function, taken by the worker

  // The product leaves these as they are; tests shorten the retry pause,
  // tokenize through a local service or report a read-only volume.
  TransferSettings transfer;
  VolumeFlagsQuery volume_flags = QueryVolumeFlags;
};

}  // namespace stubframework::workflow
