#include "utils/download_url_to_file.h"

#include <wrl/client.h>

#include <cstdio>
#include <cstring>
#include <new>

#include "base/property_bag.h"
#include "base/unique_handle.h"
#include "base/wide_format.h"
#include "base/unredirected_folder.h"
#include "downloader/redirects.h"
#include "downloader/result_codes.h"
#include "utils/moniker_response.h"

namespace stubframework::utils {
namespace {

// Forwards binding events to an inner callback and writes the pulled data to
// the file once the response has been judged to be the file. Counts its
// references (URLMon holds some on other threads' behalf). Every call comes
// on the thread that pumps the binding's messages.
class BSCHolder final : public IBindStatusCallback {
 public:
  BSCHolder(HANDLE file, IBindStatusCallback* inner, const std::wstring& url, bool unchecked)
      : file_(file), inner_(inner), url_(url), hop_url_(url), unchecked_(unchecked), last_event_(::GetTickCount()) {
    if (inner_ != nullptr) inner_->AddRef();
  }

  HRESULT result() const { return result_; }
  LONG references() const { return ::InterlockedCompareExchange(const_cast<LONG*>(&count_), 0, 0); }
  // The binding made by hand asks for the flags URLOpenPullStreamW adds itself.
  void set_manual_binding() { manual_binding_ = true; }
  // Whether the result was decided here rather than by the binding's end.
  bool ended_here() const { return ended_here_; }
  DWORD IdleMs() const { return ::GetTickCount() - last_event_; }

  // Ends the download with `hr` (the first decision wins) and aborts the binding.
  void End(HRESULT hr) {
    if (!decided_) {
      decided_ = true;
      ended_here_ = true;
      result_ = hr;
    }
    AbortBinding();
  }

  // The caller's file and inner callback go away; later binding events find
  // nothing to write to or forward to.
  void Detach() {
    AbortBinding();
    file_ = nullptr;
    if (inner_ != nullptr) inner_->Release();
    inner_ = nullptr;
  }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (out == nullptr) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IBindStatusCallback) {
      *out = static_cast<IBindStatusCallback*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(::InterlockedIncrement(&count_)); }
  ULONG STDMETHODCALLTYPE Release() override {
    LONG count = ::InterlockedDecrement(&count_);
    if (count == 0) {
      if (inner_ != nullptr) inner_->Release();
      delete this;
    }
    return static_cast<ULONG>(count);
  }

  // Without an inner callback these answer S_OK: an error from
  // OnStartBinding would end the binding before it began.
  HRESULT STDMETHODCALLTYPE OnStartBinding(DWORD reserved, IBinding* binding) override {
    Touch();
    binding_ = binding;  // kept to ask for the response and to abort
    return inner_ != nullptr ? inner_->OnStartBinding(reserved, binding) : S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetPriority(LONG* priority) override {
    if (inner_ != nullptr) return inner_->GetPriority(priority);
    if (priority == nullptr) return E_POINTER;
    *priority = THREAD_PRIORITY_NORMAL;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE OnLowResource(DWORD reserved) override {
    return inner_ != nullptr ? inner_->OnLowResource(reserved) : S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetBindInfo(DWORD* flags, BINDINFO* info) override {
    HRESULT hr = inner_ != nullptr ? inner_->GetBindInfo(flags, info) : S_OK;
    if (flags == nullptr) return hr;
    // The file goes to its target only: no copy in the browser's cache (a
    // second write of every byte), and no cached copy answers for the server.
    // (Under Wine these flags add no request header; the caller's URL is new
    // for every download.)
    *flags |= BINDF_NOWRITECACHE | BINDF_GETNEWESTVERSION | BINDF_PRAGMA_NO_CACHE;
    if (manual_binding_) *flags |= BINDF_ASYNCHRONOUS | BINDF_ASYNCSTORAGE | BINDF_PULLDATA;
    return FAILED(hr) ? S_OK : hr;
  }

  // No IHttpNegotiate for an identity Accept-Encoding: the moniker appends its
  // own after the caller's headers (a compressed answer then comes without a
  // length, and is judged as one), and under Wine it keeps the negotiator
  // referenced after the binding ends, which held every failed attempt for
  // the whole release wait.

  HRESULT STDMETHODCALLTYPE OnProgress(ULONG progress, ULONG max, ULONG status, LPCWSTR text) override {
    Touch();
    if (status == BINDSTATUS_REDIRECTING) FollowOrEnd(text);
    if (status == BINDSTATUS_BEGINDOWNLOADDATA) JudgeOrEnd();
    // Nothing of a refused, stopped or abandoned download reaches the
    // application: an error page's size is not the download's.
    if (decided_ || inner_ == nullptr) return S_OK;
    HRESULT hr = inner_->OnProgress(progress, max, status, text);
    // Wine's URLMon ignores an E_ABORT answer here; aborting the binding
    // ends it on every platform.
    if (hr == E_ABORT) End(E_ABORT);
    return hr;
  }

  HRESULT STDMETHODCALLTYPE OnStopBinding(HRESULT hr, LPCWSTR error) override {
    Touch();
    if (file_ == nullptr) {
      binding_.Reset();
      return S_OK;  // detached
    }
    if (hr == S_OK && !decided_) {
      HRESULT verdict = Judge();  // a body so short that no data event came
      if (FAILED(verdict)) {
        hr = verdict;
      } else if (announced_ >= 0 && written_ != announced_) {
        hr = S_FALSE;  // fewer bytes came than were announced
      }
    }
    if (!decided_) result_ = hr;
    decided_ = true;
    if (result_ != S_OK) {
      // Cut the file where the writes ended: it may have been sized up front.
      LARGE_INTEGER zero = {};
      LARGE_INTEGER position = {};
      if (::SetFilePointerEx(file_, zero, &position, FILE_CURRENT)) ::SetEndOfFile(file_);
    }
    binding_.Reset();
    return inner_ != nullptr ? inner_->OnStopBinding(result_, error) : S_OK;
  }

  HRESULT STDMETHODCALLTYPE OnDataAvailable(DWORD, DWORD, FORMATETC*, STGMEDIUM* medium) override {
    Touch();
    if (medium == nullptr || medium->tymed != TYMED_ISTREAM || medium->pstm == nullptr) return S_OK;
    JudgeOrEnd();
    if (decided_ || file_ == nullptr) return S_OK;
    char piece[8192];
    for (;;) {
      ULONG read = 0;
      HRESULT hr = medium->pstm->Read(piece, sizeof(piece), &read);
      if (read > 0) {
        if (announced_ >= 0 && written_ + static_cast<int64_t>(read) > announced_) {
          End(INET_E_DOWNLOAD_FAILURE);  // more than the response announced
          return E_ABORT;
        }
        DWORD written = 0;
        if (!::WriteFile(file_, piece, read, &written, nullptr) || written != read) {
          DWORD error = ::GetLastError();
          End(HRESULT_FROM_WIN32(error != ERROR_SUCCESS ? error : ERROR_DISK_FULL));
          return E_ABORT;
        }
        written_ += read;
      }
      if (hr == S_FALSE || hr == E_PENDING) return S_OK;
      if (hr != S_OK) return hr;
      if (read == 0) return S_OK;  // nothing more for now
    }
  }

  HRESULT STDMETHODCALLTYPE OnObjectAvailable(REFIID, IUnknown*) override { return E_NOTIMPL; }

 private:
  virtual ~BSCHolder() = default;

  void Touch() { last_event_ = ::GetTickCount(); }

  // Once, before the first byte is written: is this response the file? S_OK,
  // or the result that refuses it.
  HRESULT Judge() {
    if (judged_) return S_OK;
    judged_ = true;
    MonikerResponse response = ReadMonikerResponse(binding_.Get());
    HRESULT verdict = JudgeMonikerResponse(response, url_, unchecked_);
    if (FAILED(verdict)) return verdict;
    announced_ = response.length;
    if (announced_ > 0) {
      // Size the file once, up front; the writes then never extend it.
      LARGE_INTEGER at;
      at.QuadPart = announced_;
      if (::SetFilePointerEx(file_, at, nullptr, FILE_BEGIN)) ::SetEndOfFile(file_);
      at.QuadPart = 0;
      ::SetFilePointerEx(file_, at, nullptr, FILE_BEGIN);
    }
    return S_OK;
  }

  // A hop past the limit, or one that leaves TLS, ends the download.
  void FollowOrEnd(LPCWSTR next) {
    std::wstring to = next != nullptr ? next : L"";
    if (++redirects_ > downloader::kMaxRedirects || downloader::IsSecurityDowngrade(hop_url_, to)) {
      End(downloader::kResultRedirectFailed);
      return;
    }
    hop_url_ = to;
  }

  void JudgeOrEnd() {
    if (decided_ || file_ == nullptr) return;
    HRESULT verdict = Judge();
    if (FAILED(verdict)) End(verdict);
  }

  void AbortBinding() {
    // Abort may end the binding at once, and OnStopBinding drops binding_.
    Microsoft::WRL::ComPtr<IBinding> binding = binding_;
    if (binding) binding->Abort();
  }

  Microsoft::WRL::ComPtr<IBinding> binding_;
  LONG count_ = 1;
  HRESULT result_ = E_PENDING;
  bool decided_ = false;     // result_ is final
  bool ended_here_ = false;  // decided by End(), not by the binding's end
  bool judged_ = false;
  bool manual_binding_ = false;
  int64_t announced_ = -1;   // Content-Length of an accepted response
  int64_t written_ = 0;
  HANDLE file_;
  IBindStatusCallback* inner_;
  std::wstring url_;
  std::wstring hop_url_;  // where the last redirect led
  int redirects_ = 0;
  bool unchecked_;
  DWORD last_event_;
};

// What URLOpenPullStreamW does, made by hand: Wine does not implement it.
HRESULT BindPullStream(const std::wstring& url, BSCHolder* holder) {
  Microsoft::WRL::ComPtr<IMoniker> moniker;
  HRESULT hr = ::CreateURLMonikerEx(nullptr, url.c_str(), &moniker, URL_MK_UNIFORM);
  if (FAILED(hr)) return hr;
  Microsoft::WRL::ComPtr<IBindCtx> context;
  hr = ::CreateAsyncBindCtx(0, holder, nullptr, &context);
  if (FAILED(hr)) return hr;
  holder->set_manual_binding();
  Microsoft::WRL::ComPtr<IStream> stream;
  hr = moniker->BindToStorage(context.Get(), nullptr, IID_IStream, reinterpret_cast<void**>(stream.GetAddressOf()));
  return FAILED(hr) ? hr : S_OK;
}

}  // namespace

HRESULT DownloadCallback::QueryInterface(REFIID riid, void** out) {
  if (out == nullptr) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_IBindStatusCallback) {
    *out = static_cast<IBindStatusCallback*>(this);
    return S_OK;
  }
  *out = nullptr;
  return E_NOINTERFACE;
}

HRESULT DownloadCallback::OnProgress(ULONG progress, ULONG max, ULONG status, LPCWSTR) {
  if (status == BINDSTATUS_BEGINDOWNLOADDATA) {
    if (host_->properties != nullptr) host_->properties->SetDownloadTotal(max);
    if (host_->SizeQuery()) return E_ABORT;  // the size is all a query wants
  } else if (status == BINDSTATUS_DOWNLOADINGDATA || status == BINDSTATUS_ENDDOWNLOADDATA) {
    data_seen_ = true;
    if (host_->properties != nullptr) {
      // An answer without a length (compressed, or close-delimited) has its
      // size known only at its end: the last report says it.
      if (status == BINDSTATUS_ENDDOWNLOADDATA && max < progress) host_->properties->SetDownloadTotal(progress);
      host_->properties->SetDownloadCurrent(progress);
    }
  }
  return host_->CancelRequested() ? E_ABORT : S_OK;
}

namespace {

// URLMon normally lets go of the holder right after OnStopBinding; this bounds
// the wait so that a reference it never returns cannot hang the worker.
constexpr DWORD kReleaseWaitMs = 10000;
// After a stop or a timeout the binding was aborted; its end is not waited
// for longer than this.
constexpr DWORD kAbortGraceMs = 500;

// Dispatches what is queued; false on WM_QUIT, which is posted again for the
// thread's own loop.
bool PumpMessages() {
  MSG message;
  while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {
      ::PostQuitMessage(static_cast<int>(message.wParam));
      return false;
    }
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
  return true;
}

// A new file beside the target, made by this process: CREATE_NEW follows no
// link another user placed there, and the target stays as it was until the
// download is whole.
base::UniqueHandle CreatePartialFile(const std::wstring& path, std::wstring* partial) {
  for (DWORD attempt = 0; attempt < 4; ++attempt) {
    // The runtime's formatting (base::Format): swprintf would bring in the C99 wide printf.
    *partial = path + base::Format(L".%lu-%lu.partial", ::GetCurrentProcessId(), ::GetTickCount() + attempt);
    base::UniqueHandle file(::CreateFileW(partial->c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                          FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (file || ::GetLastError() != ERROR_FILE_EXISTS) return file;
  }
  return base::UniqueHandle();
}

// Puts a whole download in place of the target (the link itself, were the
// target a link: a rename never writes through one) or removes what failed.
HRESULT Conclude(HRESULT result, const std::wstring& partial, const std::wstring& path) {
  if (result == S_OK && ::MoveFileExW(partial.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING)) return S_OK;
  if (result == S_OK) result = HRESULT_FROM_WIN32(::GetLastError());
  ::DeleteFileW(partial.c_str());
  return result;
}

}  // namespace

HRESULT DownloadUrlToFile(const std::wstring& url, const std::wstring& path, IBindStatusCallback* inner,
                          const UrlDownloadOptions& options) {
  // The partial file would be created wherever a link on the way leads.
  if (!base::TargetFolderIsUnredirected(path)) return downloader::kResultTargetIsLink;
  std::wstring partial;
  base::UniqueHandle file = CreatePartialFile(path, &partial);
  if (!file) return HRESULT_FROM_WIN32(::GetLastError());
  auto* holder = new (std::nothrow) utils::BSCHolder(file.Get(), inner, url, options.unchecked_content);
  if (holder == nullptr) {
    file.Reset();
    return Conclude(E_OUTOFMEMORY, partial, path);
  }
  HRESULT hr = ::URLOpenPullStreamW(nullptr, url.c_str(), 0, holder);
  if (hr == E_NOTIMPL) hr = utils::BindPullStream(url, holder);
  if (FAILED(hr)) {
    holder->Detach();
    holder->Release();
    file.Reset();
    return Conclude(hr, partial, path);
  }
  // Waits with a time limit rather than in GetMessageW: a server that never
  // answers sends no message, and a stop must still be seen.
  while (holder->result() == E_PENDING) {
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, kStopPollMs, QS_ALLINPUT);
    if (!PumpMessages()) {
      holder->End(E_ABORT);
      break;
    }
    if (holder->result() != E_PENDING) break;
    if (options.stop && options.stop()) {
      holder->End(E_ABORT);
    } else if (holder->IdleMs() >= options.idle_timeout_ms) {
      holder->End(INET_E_CONNECTION_TIMEOUT);
    }
  }
  const DWORD limit = holder->ended_here() ? kAbortGraceMs : kReleaseWaitMs;
  const DWORD begun = ::GetTickCount();
  while (holder->references() > 1 && ::GetTickCount() - begun < limit) {
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 1, QS_ALLINPUT);
    if (!PumpMessages()) break;
  }
  HRESULT result = holder->result();
  holder->Detach();
  holder->Release();
  file.Reset();
  return Conclude(result, partial, path);
}

}  // namespace stubframework::utils
