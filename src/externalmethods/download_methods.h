// The script methods of the download workflow: download, stopDownload,
// initDownloadSize and getDownloadTimeProp. The method table's dispatcher has
// checked the call and logged the tag before any of these runs.
#pragma once

#include <windows.h>

namespace stubframework::externalmethods {

class ExternalMethods;
class ScriptCall;

// download(url, downloadFile, crc, isSecure, isResume, callback): starts the
// download worker and returns at once.
HRESULT DownloadMethod(ExternalMethods& methods, ScriptCall& call);
// stopDownload(): the running transfer ends with Abort at its next progress.
HRESULT StopDownloadMethod(ExternalMethods& methods, ScriptCall& call);
// initDownloadSize(url, downloadFile, isSecure): leaves the size the server
// announces in "downloadTotal"; runs on the calling thread.
HRESULT InitDownloadSizeMethod(ExternalMethods& methods, ScriptCall& call);
// getDownloadTimeProp(): seconds the last block-verified download took, "0"
// before any.
HRESULT GetDownloadTimePropMethod(ExternalMethods& methods, ScriptCall& call);

}  // namespace stubframework::externalmethods
