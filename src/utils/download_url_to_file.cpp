#include "utils/download_url_to_file.h"

#include <wrl/client.h>

#include <new>

#include "base/property_bag.h"
#include "base/unique_handle.h"

namespace stubframework::utils {
namespace {

// Forwards binding events to an inner callback and writes the pulled data to
// the file. Counts its references (URLMon holds some on other threads' behalf).
class BSCHolder final : public IBindStatusCallback {
 public:
  BSCHolder(HANDLE file, IBindStatusCallback* inner) : file_(file), inner_(inner) {
    if (inner_ != nullptr) inner_->AddRef();
  }

  HRESULT result() const { return result_; }
  LONG references() const { return ::InterlockedCompareExchange(const_cast<LONG*>(&count_), 0, 0); }
  // The binding made by hand asks for the flags URLOpenPullStreamW adds itself.
  void set_manual_binding() { manual_binding_ = true; }

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
    binding_ = binding;  // kept to abort the binding on a stop request
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
    if (manual_binding_ && flags != nullptr) {
      *flags |= BINDF_ASYNCHRONOUS | BINDF_ASYNCSTORAGE | BINDF_PULLDATA;
      if (FAILED(hr)) hr = S_OK;
    }
    return hr;
  }

  HRESULT STDMETHODCALLTYPE OnProgress(ULONG progress, ULONG max, ULONG status, LPCWSTR text) override {
    if (status == BINDSTATUS_BEGINDOWNLOADDATA && max > 0) {
      // Size the file once, up front; the writes then never extend it.
      LARGE_INTEGER at;
      at.QuadPart = max;
      if (::SetFilePointerEx(file_, at, nullptr, FILE_BEGIN)) ::SetEndOfFile(file_);
      at.QuadPart = 0;
      ::SetFilePointerEx(file_, at, nullptr, FILE_BEGIN);
    }
    HRESULT hr = inner_ != nullptr ? inner_->OnProgress(progress, max, status, text) : S_OK;
    // Wine's URLMon ignores an E_ABORT answer here; aborting the binding
    // ends it on every platform.
    if (hr == E_ABORT) AbortBinding();
    return hr;
  }

  HRESULT STDMETHODCALLTYPE OnStopBinding(HRESULT hr, LPCWSTR error) override {
    LARGE_INTEGER zero = {};
    LARGE_INTEGER position = {};
    ::SetFilePointerEx(file_, zero, &position, FILE_CURRENT);
    if (hr != S_OK) {
      ::SetEndOfFile(file_);
    } else {
      LARGE_INTEGER size = {};
      ::GetFileSizeEx(file_, &size);
      if (position.QuadPart != size.QuadPart) {
        hr = S_FALSE;  // fewer bytes came than were announced
        ::SetEndOfFile(file_);
      }
    }
    if (!write_failed_) result_ = hr;
    binding_.Reset();
    return inner_ != nullptr ? inner_->OnStopBinding(hr, error) : S_OK;
  }

  HRESULT STDMETHODCALLTYPE OnDataAvailable(DWORD, DWORD, FORMATETC*, STGMEDIUM* medium) override {
    if (medium == nullptr || medium->tymed != TYMED_ISTREAM || medium->pstm == nullptr) return S_OK;
    char piece[8192];
    for (;;) {
      ULONG read = 0;
      HRESULT hr = medium->pstm->Read(piece, sizeof(piece), &read);
      if (read > 0) {
        DWORD written = 0;
        if (!::WriteFile(file_, piece, read, &written, nullptr) || written != read) {
          DWORD error = ::GetLastError();
          write_failed_ = true;
          result_ = HRESULT_FROM_WIN32(error != ERROR_SUCCESS ? error : ERROR_DISK_FULL);
          AbortBinding();
          return E_ABORT;
        }
      }
      if (hr == S_FALSE || hr == E_PENDING) return S_OK;
      if (hr != S_OK) return hr;
      if (read == 0) return S_OK;  // nothing more for now
    }
  }

  HRESULT STDMETHODCALLTYPE OnObjectAvailable(REFIID, IUnknown*) override { return E_NOTIMPL; }

 private:
  virtual ~BSCHolder() = default;

  void AbortBinding() {
    if (binding_) binding_->Abort();
  }

  Microsoft::WRL::ComPtr<IBinding> binding_;
  LONG count_ = 1;
  HRESULT result_ = E_PENDING;
  bool write_failed_ = false;
  bool manual_binding_ = false;
  HANDLE file_;
  IBindStatusCallback* inner_;
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
    if (host_->properties != nullptr) host_->properties->SetDownloadCurrent(progress);
  }
  return host_->CancelRequested() ? E_ABORT : S_OK;
}

namespace {
// URLMon normally lets go of the holder right after OnStopBinding; this bounds
// the wait so that a reference it never returns cannot hang the worker.
constexpr DWORD kReleaseWaitMs = 10000;
}  // namespace

HRESULT DownloadUrlToFile(const std::wstring& url, const std::wstring& path, IBindStatusCallback* inner) {
  base::UniqueHandle file(
      ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return HRESULT_FROM_WIN32(::GetLastError());
  auto* holder = new (std::nothrow) utils::BSCHolder(file.Get(), inner);
  if (holder == nullptr) return E_OUTOFMEMORY;
  HRESULT hr = ::URLOpenPullStreamW(nullptr, url.c_str(), 0, holder);
  if (hr == E_NOTIMPL) hr = utils::BindPullStream(url, holder);
  if (FAILED(hr)) {
    holder->Release();
    return hr;
  }
  MSG message;
  while (holder->result() == E_PENDING) {
    BOOL got = ::GetMessageW(&message, nullptr, 0, 0);
    if (got == -1) continue;
    if (got == 0) {
      ::PostQuitMessage(static_cast<int>(message.wParam));
      break;
    }
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
  for (DWORD waited = 0; holder->references() > 1 && waited < kReleaseWaitMs; ++waited) ::Sleep(1);
  HRESULT result = holder->result();
  holder->Release();
  return result;
}

}  // namespace stubframework::utils
