// What the bridge and method-table tests share: a real application with a log
// of its own, script-order argument blocks of real VARIANTs, and a page
// function stand-in that records its calls.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>
#include <dispex.h>
#include <oleauto.h>

#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/application.h"
#include "base/temp_folder.h"
#include "base/variant.h"
#include "base/wide_format.h"
#include "htmlui/mshtml_external.h"

namespace testsupport {

// An application as start-up builds it, with TMP pointing at a folder of the
// test's own so that the log can be read back.
class AppFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    temp_ = stubframework::base::MakeUniqueFolder(stubframework::base::TemporaryPath());
    ASSERT_FALSE(temp_.empty());
    ::SetEnvironmentVariableW(L"TMP", temp_.c_str());
    ::SetEnvironmentVariableW(L"TEMP", temp_.c_str());
    app_ = stubframework::app::Application::Create();
    ASSERT_TRUE(app_) << "the application could not be built";
    // The method tests run the keyless configuration (the build's key would
    // ask every fixture for signatures); the release-key tests set theirs.
    app_->SetReleaseKey(stubframework::trust::ReleaseKey{});
  }
  void TearDown() override {
    app_.reset();
    ::SetEnvironmentVariableW(L"TMP", nullptr);
    ::SetEnvironmentVariableW(L"TEMP", nullptr);
    stubframework::base::DeleteFolderRecursive(temp_);
  }

  std::string LogText() const {
    std::string text;
    HANDLE file = ::CreateFileW(app_->log()->path().c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return text;
    char buffer[4096];
    DWORD read = 0;
    while (::ReadFile(file, buffer, sizeof(buffer), &read, nullptr) && read > 0) text.append(buffer, read);
    ::CloseHandle(file);
    // The log is written in text mode: lines end in "\r\n".
    std::string lines;
    for (char c : text) {
      if (c != '\r') lines.push_back(c);
    }
    return lines;
  }
  bool LogHasLine(const std::string& line) const { return LogText().find("] " + line + "\n") != std::string::npos; }

  std::wstring temp_;
  std::unique_ptr<stubframework::app::Application> app_;
};

// Arguments given in script order; params() lays them out last first, as a
// script engine does.
class ScriptArgs {
 public:
  ScriptArgs() = default;
  ScriptArgs(const ScriptArgs&) = delete;
  ScriptArgs& operator=(const ScriptArgs&) = delete;

  ScriptArgs& Text(const wchar_t* text) {
    values_.emplace_back().SetText(text);
    return *this;
  }
  ScriptArgs& Int(LONG value) {
    values_.emplace_back().SetInt(value);
    return *this;
  }
  ScriptArgs& Bool(bool value) {
    values_.emplace_back().SetBool(value);
    return *this;
  }
  ScriptArgs& Double(double value) {
    VARIANT* v = values_.emplace_back().Get();
    v->vt = VT_R8;
    v->dblVal = value;
    return *this;
  }
  ScriptArgs& Dispatch(IDispatch* object) {
    values_.emplace_back().SetDispatch(object);
    return *this;
  }
  // A value of any type code, without payload (VT_NULL, VT_I2, ...).
  ScriptArgs& OfType(VARTYPE type) {
    VARIANT* v = values_.emplace_back().Get();
    v->vt = type;
    v->llVal = 0;
    return *this;
  }
  // A text passed by reference.
  ScriptArgs& TextByRef(BSTR* text) {
    VARIANT* v = values_.emplace_back().Get();
    v->vt = VT_BSTR | VT_BYREF;
    v->pbstrVal = text;
    return *this;
  }
  ScriptArgs& Of(VARTYPE type) {
    switch (type) {
      case VT_BSTR: return Text(L"x");
      case VT_I4: return Int(1);
      case VT_BOOL: return Bool(true);
      default: return OfType(type);
    }
  }

  DISPPARAMS* params(DISPID* named = nullptr, UINT named_count = 0) {
    laid_out_.clear();
    for (auto it = values_.rbegin(); it != values_.rend(); ++it) laid_out_.push_back(*it->Get());
    params_.rgvarg = laid_out_.empty() ? nullptr : laid_out_.data();
    params_.cArgs = static_cast<UINT>(laid_out_.size());
    params_.rgdispidNamedArgs = named;
    params_.cNamedArgs = named_count;
    return &params_;
  }

 private:
  std::deque<stubframework::base::UniqueVariant> values_;
  std::vector<VARIANT> laid_out_;  // shallow copies; the owners stay in values_
  DISPPARAMS params_ = {};
};

// One call that reached a RecordingFunction.
struct RecordedCall {
  DWORD thread_id;
  WORD flags;
  std::vector<LONG> args;  // script order; non-VT_I4 arguments read as -999
  bool had_result;
};

// A page function stand-in: records each call and answers 42. Optionally also
// offers IDispatchEx, to see which way a caller reaches it.
class RecordingFunction : public IDispatchEx {
 public:
  explicit RecordingFunction(bool offer_dispatch_ex = false) : offer_ex_(offer_dispatch_ex) {}

  STDMETHODIMP QueryInterface(REFIID riid, void** object) override {
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) ||
        (offer_ex_ && IsEqualIID(riid, stubframework::htmlui::kIidDispatchEx))) {
      *object = static_cast<IDispatchEx*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ::InterlockedIncrement(&refs_); }
  STDMETHODIMP_(ULONG) Release() override { return ::InterlockedDecrement(&refs_); }  // lives on the test's stack
  STDMETHODIMP GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO*,
                      UINT*) override {
    via_invoke_++;
    return Record(id, flags, params, result);
  }
  STDMETHODIMP GetDispID(BSTR, DWORD, DISPID*) override { return E_NOTIMPL; }
  STDMETHODIMP InvokeEx(DISPID id, LCID, WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO*,
                        IServiceProvider*) override {
    via_invoke_ex_++;
    return Record(id, flags, params, result);
  }
  STDMETHODIMP DeleteMemberByName(BSTR, DWORD) override { return E_NOTIMPL; }
  STDMETHODIMP DeleteMemberByDispID(DISPID) override { return E_NOTIMPL; }
  STDMETHODIMP GetMemberProperties(DISPID, DWORD, DWORD*) override { return E_NOTIMPL; }
  STDMETHODIMP GetMemberName(DISPID, BSTR*) override { return E_NOTIMPL; }
  STDMETHODIMP GetNextDispID(DWORD, DISPID, DISPID*) override { return E_NOTIMPL; }
  STDMETHODIMP GetNameSpaceParent(IUnknown**) override { return E_NOTIMPL; }

  LONG refs() const { return refs_; }
  std::vector<RecordedCall> calls;
  int via_invoke_ = 0;
  int via_invoke_ex_ = 0;

 private:
  HRESULT Record(DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result) {
    if (id != DISPID_VALUE) return DISP_E_MEMBERNOTFOUND;
    RecordedCall call{::GetCurrentThreadId(), flags, {}, result != nullptr};
    UINT count = params == nullptr ? 0 : params->cArgs;
    for (UINT i = 0; i < count; ++i) {
      const VARIANT& arg = params->rgvarg[count - 1 - i];
      call.args.push_back(arg.vt == VT_I4 ? arg.lVal : -999);
    }
    calls.push_back(call);
    if (result != nullptr) {
      ::VariantInit(result);
      result->vt = VT_I4;
      result->lVal = 42;
    }
    return S_OK;
  }

  bool offer_ex_;
  LONG refs_ = 1;
};

using Calls = std::vector<std::vector<LONG>>;

// Pumps this thread's messages until the function's last call is the final
// one and the worker has let go of the function (its references are down to
// `settled_refs`), then gives the calls' arguments, each call checked to have
// come on this thread. `while_running` sees the calls after every pump.
inline Calls PumpUntilFinalCall(RecordingFunction& function, const std::function<bool(const RecordedCall&)>& is_final,
                                LONG settled_refs = 1, int timeout_s = 120,
                                const std::function<void(const std::vector<RecordedCall>&)>& while_running = {}) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeout_s);
  for (;;) {
    if (!function.calls.empty() && is_final(function.calls.back()) && function.refs() == settled_refs) break;
    if (std::chrono::steady_clock::now() > deadline) {
      ADD_FAILURE() << "the worker did not finish";
      break;
    }
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&msg);
    if (while_running) while_running(function.calls);
  }
  ::Sleep(20);  // the worker leaves its apartment after the last release
  Calls calls;
  for (const RecordedCall& call : function.calls) {
    EXPECT_EQ(call.thread_id, ::GetCurrentThreadId()) << "called on the page's thread";
    calls.push_back(call.args);
  }
  return calls;
}

}  // namespace testsupport
