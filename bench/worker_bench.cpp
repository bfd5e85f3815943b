// One download the way the product does it: the application is built as at
// start-up, the product's method table is attached to the bridge, and a page
// function (this program's) calls `download` through window.external; the
// download worker and its reporters run, and this thread, a single-threaded
// apartment like the window's, pumps messages until the final callback.
// The script harness times the whole process from outside.
//
//   worker_bench plain URL FILE       (download(url, file, "", false, false, fn))
//   worker_bench verified URL FILE    (resume = true: the .meta path)
//   worker_bench sources N URL FILE [MIRROR]...
//                                     (resume = true from several sources: the
//                                      page's setProperty("downloadMirrors",
//                                      "downloadConnections") first, as the
//                                      Downloading page does)
//   worker_bench idle                 (the application built, no download:
//                                      what the process holds before one)
//
// Prints "CODE CALLBACKS IDLE_PRIVATE_KIB PEAK_PRIVATE_KIB": the final result,
// how many calls the page function got, the private memory of the process once
// the application is built, and its peak while the download ran.
#include <windows.h>
#include <oleauto.h>
#include <psapi.h>

#include <atomic>
#include <cstdio>
#include <cwchar>
#include <memory>
#include <string>

#include "app/application.h"
#include "base/temp_folder.h"
#include "externalmethods/product/my_external_methods.h"
#include "htmlui/html_external.h"

namespace {

using stubframework::app::Application;
using stubframework::externalmethods::MyExternalMethods;

constexpr LONG kRunning = 10;
constexpr DWORD kSampleMs = 20;

SIZE_T PrivateBytes() {
  PROCESS_MEMORY_COUNTERS_EX counters{};
  counters.cb = sizeof(counters);
  if (!::GetProcessMemoryInfo(::GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                              sizeof(counters))) {
    return 0;
  }
  return counters.PrivateUsage;
}

// Samples the private memory until told to stop; the owner joins it.
class PeakSampler {
 public:
  PeakSampler() : stop_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
    thread_ = ::CreateThread(nullptr, 0, Run, this, 0, nullptr);
  }
  ~PeakSampler() { Stop(); ::CloseHandle(stop_); }
  SIZE_T Stop() {
    if (thread_ != nullptr) {
      ::SetEvent(stop_);
      ::WaitForSingleObject(thread_, INFINITE);
      ::CloseHandle(thread_);
      thread_ = nullptr;
    }
    return peak_;
  }

 private:
  static DWORD WINAPI Run(void* self) {
    auto* sampler = static_cast<PeakSampler*>(self);
    do {
      SIZE_T now = PrivateBytes();
      if (now > sampler->peak_) sampler->peak_ = now;
    } while (::WaitForSingleObject(sampler->stop_, kSampleMs) == WAIT_TIMEOUT);
    return 0;
  }
  HANDLE stop_;
  HANDLE thread_ = nullptr;
  std::atomic<SIZE_T> peak_{0};
};

// The page's function: counts its calls and keeps the last result.
class PageFunction : public IDispatch {
 public:
  STDMETHODIMP QueryInterface(REFIID riid, void** object) override {
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch)) {
      *object = static_cast<IDispatch*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ::InterlockedIncrement(&refs_); }
  STDMETHODIMP_(ULONG) Release() override { return ::InterlockedDecrement(&refs_); }  // lives on main's stack
  STDMETHODIMP GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*, UINT*) override {
    ++calls_;
    if (params != nullptr && params->cArgs == 3 && params->rgvarg[2].vt == VT_I4) {
      LONG code = params->rgvarg[2].lVal;
      if (code != kRunning) final_ = code;
    }
    return S_OK;
  }

  LONG refs() const { return refs_; }
  long calls() const { return calls_; }
  LONG final_code() const { return final_; }
  bool finished() const { return final_ != kRunning; }

 private:
  LONG refs_ = 1;
  long calls_ = 0;
  LONG final_ = kRunning;
};

// Calls a method of window.external with text arguments, as a page does.
HRESULT CallWithTexts(IDispatch* external, const wchar_t* method, const wchar_t* first, const wchar_t* second) {
  DISPID id = DISPID_UNKNOWN;
  LPOLESTR names[] = {const_cast<LPOLESTR>(method)};
  HRESULT hr = external->GetIDsOfNames(IID_NULL, names, 1, 0, &id);
  if (FAILED(hr)) return hr;
  VARIANT args[2];
  args[1].vt = VT_BSTR;
  args[1].bstrVal = ::SysAllocString(first);
  args[0].vt = VT_BSTR;
  args[0].bstrVal = ::SysAllocString(second);
  DISPPARAMS params{args, nullptr, 2, 0};
  VARIANT result;
  ::VariantInit(&result);
  hr = external->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &params, &result, nullptr, nullptr);
  ::VariantClear(&result);
  for (VARIANT& arg : args) ::VariantClear(&arg);
  return hr;
}

HRESULT CallDownload(IDispatch* external, const wchar_t* url, const wchar_t* file, bool resume, IDispatch* fn) {
  DISPID id = DISPID_UNKNOWN;
  LPOLESTR names[] = {const_cast<LPOLESTR>(L"download")};
  HRESULT hr = external->GetIDsOfNames(IID_NULL, names, 1, 0, &id);
  if (FAILED(hr)) return hr;
  // Arguments lie last first, as a script engine lays them out.
  VARIANT args[6];
  for (VARIANT& arg : args) ::VariantInit(&arg);
  args[5].vt = VT_BSTR;
  args[5].bstrVal = ::SysAllocString(url);
  args[4].vt = VT_BSTR;
  args[4].bstrVal = ::SysAllocString(file);
  args[3].vt = VT_BSTR;
  args[3].bstrVal = ::SysAllocString(L"");
  args[2].vt = VT_BOOL;
  args[2].boolVal = VARIANT_FALSE;
  args[1].vt = VT_BOOL;
  args[1].boolVal = resume ? VARIANT_TRUE : VARIANT_FALSE;
  args[0].vt = VT_DISPATCH;
  args[0].pdispVal = fn;
  DISPPARAMS params{args, nullptr, 6, 0};
  hr = external->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr);
  for (int i = 1; i < 6; ++i) ::VariantClear(&args[i]);  // args[0] is borrowed
  return hr;
}

// Pumps until the final call has come and the worker let go of the function.
void PumpUntilDone(const PageFunction& fn) {
  while (!fn.finished() || fn.refs() > 1) {
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      ::TranslateMessage(&msg);
      ::DispatchMessageW(&msg);
    }
  }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const bool idle_only = argc == 2 && std::wcscmp(argv[1], L"idle") == 0;
  const bool sources = argc >= 5 && std::wcscmp(argv[1], L"sources") == 0;
  if (!idle_only && !sources &&
      (argc != 4 || (std::wcscmp(argv[1], L"plain") != 0 && std::wcscmp(argv[1], L"verified") != 0))) {
    std::fwprintf(stderr, L"usage: worker_bench plain|verified URL FILE | worker_bench sources N URL FILE [MIRROR]... "
                          L"| worker_bench idle\n");
    return 2;
  }
  const bool resume = sources || std::wcscmp(argv[1], L"verified") == 0;
  const wchar_t* url = sources ? argv[3] : argv[2];
  const wchar_t* file = sources ? argv[4] : argv[3];
  std::wstring mirrors;
  for (int i = 5; sources && i < argc; ++i) mirrors += (mirrors.empty() ? L"" : L" ") + std::wstring(argv[i]);
  if (FAILED(::CoInitialize(nullptr))) return 2;
  int exit_code = 1;
  {
    std::unique_ptr<Application> app = Application::Create();
    if (!app) {
      std::fwprintf(stderr, L"the application could not be built\n");
      return 2;
    }
    MyExternalMethods methods(app.get());
    if (!app->external()->AttachMethods(&methods)) return 2;
    const SIZE_T idle = PrivateBytes();
    if (idle_only) {
      ::Sleep(500);  // long enough for an outside sampler to see it
      std::printf("0 0 %lu %lu\n", static_cast<unsigned long>(idle / 1024), static_cast<unsigned long>(idle / 1024));
      return 0;
    }
    PeakSampler sampler;
    PageFunction fn;
    HRESULT hr = S_OK;
    if (sources) {
      hr = CallWithTexts(app->external_dispatch(), L"setProperty", L"downloadMirrors", mirrors.c_str());
      if (SUCCEEDED(hr)) hr = CallWithTexts(app->external_dispatch(), L"setProperty", L"downloadConnections", argv[2]);
    }
    if (SUCCEEDED(hr)) hr = CallDownload(app->external_dispatch(), url, file, resume, &fn);
    if (FAILED(hr)) {
      std::fwprintf(stderr, L"download could not be called: %08lx\n", static_cast<unsigned long>(hr));
      return 2;
    }
    PumpUntilDone(fn);
    const SIZE_T peak = sampler.Stop();
    std::printf("%ld %ld %lu %lu\n", static_cast<long>(fn.final_code()), fn.calls(),
                static_cast<unsigned long>(idle / 1024), static_cast<unsigned long>(peak / 1024));
    exit_code = fn.final_code() == 0 ? 0 : 1;
  }
  ::CoUninitialize();
  return exit_code;
}
