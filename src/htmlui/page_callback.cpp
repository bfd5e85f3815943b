#include "htmlui/page_callback.h"

#include <oleauto.h>

namespace stubframework::htmlui {

CallbackStream::~CallbackStream() {
  if (stream_ == nullptr) return;
  // Frees the proxy reference the marshalled data holds on the function.
  ::CoReleaseMarshalData(stream_);
  stream_->Release();
}

HRESULT CallbackStream::Marshal(base::Log* log, const wchar_t* method_log_name, IDispatch* callback) {
  HRESULT hr = ::CoMarshalInterThreadInterfaceInStream(IID_IDispatch, callback, &stream_);
  if (FAILED(hr)) {
    stream_ = nullptr;
    base::LogDebug(log, L"%s: CoMarshalInterThreadInterfaceInStream failed with %x", method_log_name, hr);
  }
  return hr;
}

IStream* CallbackStream::Detach() {
  IStream* stream = stream_;
  stream_ = nullptr;
  return stream;
}

PageCallback::PageCallback(base::Log* log, const wchar_t* worker_name, IStream* stream) {
  joined_ = SUCCEEDED(::CoInitializeEx(nullptr, COINIT_MULTITHREADED));
  HRESULT hr = ::CoGetInterfaceAndReleaseStream(stream, IID_IDispatch, reinterpret_cast<void**>(&function_));
  if (FAILED(hr)) {
    function_ = nullptr;
    base::LogError(log, L"%s CoGetInterfaceAndReleaseStream  failed with: %x", worker_name, hr);
  }
}

PageCallback::~PageCallback() {
  if (function_ != nullptr) function_->Release();
  if (joined_) ::CoUninitialize();
}

HRESULT PageCallback::Call(LONG result) { return Invoke(&result, 1); }

HRESULT PageCallback::Call(LONG result, uint64_t total, uint64_t current) {
  const LONG args[3] = {result, static_cast<LONG>(static_cast<uint32_t>(total)),
                        static_cast<LONG>(static_cast<uint32_t>(current))};
  return Invoke(args, 3);
}

HRESULT PageCallback::Invoke(const LONG* args, UINT count) {
  if (function_ == nullptr) return E_POINTER;
  // COM takes the arguments last first.
  VARIANT reversed[3];
  for (UINT i = 0; i < count; ++i) {
    ::VariantInit(&reversed[i]);
    reversed[i].vt = VT_I4;
    reversed[i].lVal = args[count - 1 - i];
  }
  DISPPARAMS params = {reversed, nullptr, count, 0};
  return function_->Invoke(DISPID_VALUE, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr);
}

bool StartWorkerThread(RunState* run, LPTHREAD_START_ROUTINE worker, void* job) {
  if (run == nullptr) {
    ::SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  return run->workers().Start(worker, job);
}

}  // namespace stubframework::htmlui
