// The WinINet session requests run in: the stub's user agent, asynchronous
// mode, the transfer timeouts. A task opens one of its own, or shares one
// (a download over several connections runs all of its requests in one).
#pragma once

#include <windows.h>
#include <wininet.h>

#include "base/unique_handle.h"
#include "downloader/interfaces.h"

namespace stubframework::downloader {

// Connect 60 s, send 30 s, receive as given, on a session or a request;
// results not checked.
void SetTransferTimeouts(HINTERNET handle, DWORD receive_ms);

// Opens a session into `session`; the result (a failure is logged).
long OpenInternetSession(DWORD receive_timeout_ms, ILogger* logger, base::UniqueHInternet* session);

// A session several tasks hold a reference on (an Object<SharedSession>);
// it closes after the last task that uses it has closed its request.
class SharedSession : public IObject {
 public:
  HINTERNET handle() const { return session_.Get(); }
  base::UniqueHInternet* mutable_handle() { return &session_; }

 private:
  base::UniqueHInternet session_;
};

// Creates a shared session; the caller owns the one reference in *session
// (null on failure).
long OpenSharedSession(DWORD receive_timeout_ms, ILogger* logger, SharedSession** session);

}  // namespace stubframework::downloader
