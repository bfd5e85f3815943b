// A whole-file download through the system's URL moniker (URLMon), written to
// a file as it arrives, with the application's progress and stop flags.
#pragma once

#include <windows.h>
#include <urlmon.h>

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

  // Whether any data arrived (the worker's retry loop counts that as progress).
  bool data_seen() const { return data_seen_; }

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

// Downloads `url` into `path`, forwarding binding events to `inner` (may be
// null). Pumps this thread's messages until the binding ends. The bytes go to
// a new file beside `path`, renamed over it only when the download is whole:
// a failure leaves whatever was at `path` untouched. No copy is written to
// the browser's cache. Returns the binding's result, the refusal of a
// response that is not the file (JudgeMonikerResponse), S_FALSE when fewer
// bytes came than announced, E_ABORT on a stop, INET_E_CONNECTION_TIMEOUT,
// INET_E_REDIRECT_FAILED past downloader::kMaxRedirects hops (or on a hop
// that leaves TLS), or the write or rename error.
HRESULT DownloadUrlToFile(const std::wstring& url, const std::wstring& path, IBindStatusCallback* inner,
                          const UrlDownloadOptions& options = UrlDownloadOptions());

}  // namespace stubframework::utils
