#include "browserhost/uihost_test_methods.h"

#include <memory>
#include <string>

#include "app/application.h"
#include "app/launch.h"
#include "externalmethods/script_call.h"
#include "htmlui/page_callback.h"
#include "htmlui/ui_host.h"

namespace testsupport {

namespace {

using stubframework::externalmethods::ExternalMethods;

constexpr LONG kRunning = 10;
constexpr LONG kNoError = 0;

struct TickerJob {
  ExternalMethods* methods;
  LONG count;
  IStream* stream;
};

DWORD WINAPI TickerThread(void* parameter) {
  std::unique_ptr<TickerJob> job(static_cast<TickerJob*>(parameter));
  stubframework::htmlui::PageCallback callback(job->methods->log(), L"TickerThreadFunc", job->stream);
  if (!callback.connected()) return 1;
  for (LONG i = 1; i <= job->count; ++i) {
    callback.Call(kRunning, job->count, i);
    job->methods->properties().SetProperty(L"tickerReturned", std::to_wstring(i));
  }
  callback.Call(kNoError, job->count, job->count);
  return 0;
}

}  // namespace

UiHostTestMethods::UiHostTestMethods(stubframework::externalmethods::MethodHost* host) : MyExternalMethods(host) {
  Register(L"startTicker", static_cast<Handler>(&UiHostTestMethods::StartTicker));
  Register(L"uiHostOperation", static_cast<Handler>(&UiHostTestMethods::UiHostOperation));
  Register(L"childSeesToken", static_cast<Handler>(&UiHostTestMethods::ChildSeesToken));
}

HRESULT UiHostTestMethods::StartTicker(WORD flags, DISPPARAMS* params, VARIANT*) {
  if (flags != DISPATCH_METHOD) return DISP_E_MEMBERNOTFOUND;
  // Last script argument first.
  const VARTYPE expected[] = {VT_DISPATCH, VT_I4};
  HRESULT hr = CheckParamTypes(params, expected, 2);
  if (FAILED(hr)) return hr;
  stubframework::externalmethods::ScriptCall call(flags, params, nullptr);
  properties().SetProperty(L"tickerReturned", L"0");
  stubframework::htmlui::CallbackStream stream;
  hr = stream.Marshal(log(), L"EMStartTicker", call.Callback(1));
  if (FAILED(hr)) return hr;
  auto* job = new TickerJob{this, call.Int(0), stream.Detach()};
  if (!stubframework::htmlui::StartWorkerThread(bridge() != nullptr ? bridge()->run() : nullptr, TickerThread, job)) {
    // Nobody will unmarshal it: free the marshalled reference with the stream.
    ::CoReleaseMarshalData(job->stream);
    job->stream->Release();
    delete job;
    return E_FAIL;
  }
  return S_OK;
}

HRESULT UiHostTestMethods::UiHostOperation(WORD flags, DISPPARAMS* params, VARIANT* result) {
  if (flags != (DISPATCH_METHOD | DISPATCH_PROPERTYGET)) return DISP_E_MEMBERNOTFOUND;
  const VARTYPE expected[] = {VT_BSTR, VT_BSTR};
  HRESULT hr = CheckParamTypes(params, expected, 2);
  if (FAILED(hr)) return hr;
  stubframework::externalmethods::ScriptCall call(flags, params, result);
  const std::wstring name = call.Text(0);
  const std::wstring text = call.Text(1);
  stubframework::htmlui::UiHost* host = ui_host();
  if (host == nullptr) return E_UNEXPECTED;
  std::wstring answer;
  if (name == L"minimize") {
    host->Minimize();
  } else if (name == L"hide") {
    host->Hide();
  } else if (name == L"show") {
    host->Show();
  } else if (name == L"drag") {
    host->Drag();
  } else if (name == L"caption") {
    host->SetCaption(text);
    wchar_t caption[256] = {};
    ::GetWindowTextW(host->window(), caption, ARRAYSIZE(caption));
    answer = caption;
  } else if (name == L"folder") {
    answer = host->PickFolder(text);
  } else if (name == L"okCancel") {
    answer = std::to_wstring(host->ShowMessageBox(text, L"Question", MB_OKCANCEL));
  } else {
    return E_INVALIDARG;
  }
  return call.ReturnText(answer);
}

HRESULT UiHostTestMethods::ChildSeesToken(WORD flags, DISPPARAMS* params, VARIANT* result) {
  if (flags != DISPATCH_METHOD && flags != (DISPATCH_METHOD | DISPATCH_PROPERTYGET)) return DISP_E_MEMBERNOTFOUND;
  HRESULT hr = CheckParamTypes(params, nullptr, 0);
  if (FAILED(hr)) return hr;
  wchar_t system[MAX_PATH] = {};
  UINT length = ::GetSystemDirectoryW(system, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return E_FAIL;
  const stubframework::app::LaunchSpec cmd = {std::wstring(system, length) + L"\\", L"cmd.exe",
                                              L"cmd.exe /c if defined UIHOST_TOKEN (exit 7) else (exit 3)"};
  const DWORD code = stubframework::app::RunProcess(cmd, true);
  if (code != 7 && code != 3) return E_FAIL;
  stubframework::externalmethods::ScriptCall(flags, params, result).ReturnBool(code == 7);
  return S_OK;
}

}  // namespace testsupport
