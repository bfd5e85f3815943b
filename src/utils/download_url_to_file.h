// A whole-file download (the plain path: no .meta), written to a file as it
// arrives, with the application's progress and stop flags. It runs on the
// download engine's HTTP task, whose reads grow with the rate; the response
// is judged as a URL-moniker download judges it (moniker_response.h), and the
// application's binding-status callback hears of it as of a binding.
#pragma once

#include <windows.h>
#include <urlmon.h>

#include <cstdint>
#include <functional>
#include <string>

#include "downloader/timeouts.h"
#include "utils/download_host.h"

namespace stubframework::utils {

// The application's bind-status callback: publishes the size and the bytes
// received, stops a size query as soon as the size is known, and stops the
// download when the bridge's cancel flag is set. Lives on the caller's stack;
// it does not count references.
class DownloadCallback : public IBindStatusCallback {
 public:
  explicit DownloadCallback(const utils::DownloadHost* host) : host_(host) {}
  virtual ~DownloadCallback() = default;

  // Whether a data event came (one at the end may carry no bytes).
  bool data_seen() const { return data_seen_; }
  // The largest byte count a data event reported.
  ULONG bytes_received() const { return received_; }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override;
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE OnStartBinding(DWORD, IBinding*) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE GetPriority(LONG*) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnLowResource(DWORD) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnProgress(ULONG progress, ULONG max, ULONG status, LPCWSTR text) override;
  HRESULT STDMETHODCALLTYPE OnStopBinding(HRESULT, LPCWSTR) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE GetBindInfo(DWORD*, BINDINFO*) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnDataAvailable(DWORD, DWORD, FORMATETC*, STGMEDIUM*) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnObjectAvailable(REFIID, IUnknown*) override { return S_OK; }

 private:
  const utils::DownloadHost* host_;
  bool data_seen_ = false;
  ULONG received_ = 0;
};


struct UrlDownloadOptions {
  // Asked every kStopPollMs while the binding runs; true ends it with E_ABORT.
  std::function<bool()> stop;
  // A binding that reports nothing for this long ends with
  // INET_E_CONNECTION_TIMEOUT (a server that never answers, or stalls).
  DWORD idle_timeout_ms = downloader::kReceiveTimeoutMs;
  // Nothing checks the bytes afterwards: refuse what cannot be proven whole
  // or is plainly not the file (see JudgeMonikerResponse).
  bool unchecked_content = false;
};

// Downloads `url` into `path`. `inner` (may be null) gets, on this thread,
// OnProgress with BINDSTATUS_BEGINDOWNLOADDATA once the response is accepted
// (E_ABORT from it ends the download: a size query), DOWNLOADINGDATA as bytes
// arrive, and ENDDOWNLOADDATA once they are all there; nothing of a refused
// response. Pumps this thread's messages until the download ends. The bytes
// go to a new file beside `path`, renamed over it only when the download is
// whole: a failure leaves whatever was at `path` untouched. Nothing is read
// from or written to the browser's cache, and the file is asked for as the
// server holds it (identity encoding). Returns S_OK, the refusal of a
// response that is not the file (JudgeMonikerResponse), S_FALSE when fewer
// bytes came than announced, E_ABORT on a stop, INET_E_CONNECTION_TIMEOUT,
// INET_E_REDIRECT_FAILED past downloader::kMaxRedirects hops (or on a hop
// that leaves TLS), PlainTransferResult of the engine's failure, or the
// write or rename error.
HRESULT DownloadUrlToFile(const std::wstring& url, const std::wstring& path, IBindStatusCallback* inner,
                          const UrlDownloadOptions& options = UrlDownloadOptions());

// The result of a plain download the engine ended with `end` (its result
// code), after a response was `accepted` announcing `announced` bytes (-1:
// no length) of which `written` reached the file. A body that ends short of
// its length, cleanly or not, is S_FALSE; the engine's failures before a
// response take the URL moniker's codes (a connection that cannot be made is
// INET_E_RESOURCE_NOT_FOUND, a timeout INET_E_CONNECTION_TIMEOUT, a refused
// certificate INET_E_INVALID_CERTIFICATE, too many or downgrading redirects
// INET_E_REDIRECT_FAILED); any other is INET_E_DOWNLOAD_FAILURE.
HRESULT PlainTransferResult(long end, bool accepted, int64_t announced, int64_t written);

}  // namespace stubframework::utils
