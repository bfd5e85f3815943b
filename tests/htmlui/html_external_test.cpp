// window.external as a script engine drives it: names to identifiers, calls,
// expando properties, the locked property store, flags and extraction progress.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "base/bstr.h"
#include "externalmethods/product/my_external_methods.h"
#include "htmlui/bridge_test_support.h"
#include "htmlui/html_external.h"

namespace stubframework::htmlui {
namespace {

using base::UniqueBstr;
using base::UniqueVariant;
using testsupport::AppFixture;
using testsupport::RecordingFunction;
using testsupport::ScriptArgs;

constexpr int kMethods = 85;

class HtmlExternalTest : public AppFixture {
 protected:
  void SetUp() override {
    AppFixture::SetUp();
    if (HasFatalFailure()) return;
    methods_ = std::make_unique<externalmethods::MyExternalMethods>(app_.get());
    ASSERT_TRUE(app_->external()->AttachMethods(methods_.get()));
    bridge_ = static_cast<IDispatchEx*>(app_->external());
  }
  void TearDown() override {
    AppFixture::TearDown();
    methods_.reset();
  }

  DISPID DispId(const wchar_t* name, DWORD grfdex, HRESULT* hr = nullptr) {
    UniqueBstr text(name);
    DISPID id = 12345;
    HRESULT got = bridge_->GetDispID(text.Get(), grfdex, &id);
    if (hr != nullptr) *hr = got;
    return id;
  }
  HRESULT Put(DISPID id, ScriptArgs& value, WORD flags = DISPATCH_PROPERTYPUT) {
    DISPID named[] = {DISPID_PROPERTYPUT};
    return bridge_->InvokeEx(id, 0, flags, value.params(named, 1), nullptr, nullptr, nullptr);
  }
  HRESULT Get(DISPID id, VARIANT* result) {
    ScriptArgs none;
    return bridge_->InvokeEx(id, 0, DISPATCH_PROPERTYGET, none.params(), result, nullptr, nullptr);
  }

  std::unique_ptr<externalmethods::MyExternalMethods> methods_;
  IDispatchEx* bridge_ = nullptr;
};

TEST_F(HtmlExternalTest, AttachingTakesTheTableInNameOrderAndSetsTheProgressCounters) {
  const auto& table = app_->external()->DispatchTable();
  ASSERT_EQ(table.size(), static_cast<size_t>(kMethods));
  EXPECT_STREQ(table[0].name, L"CheckMinSys");
  EXPECT_EQ(app_->external()->GetProperty(L"downloadTotal"), L"1");
  EXPECT_EQ(app_->external()->GetProperty(L"downloadCurrent"), L"0");
  EXPECT_EQ(app_->external()->GetProperty(L"installTotal"), L"1");
  EXPECT_EQ(app_->external()->GetProperty(L"installCurrent"), L"0");
}

TEST_F(HtmlExternalTest, AnswersOnlyTheAutomationInterfacesAsOneObject) {
  Microsoft::WRL::ComPtr<IUnknown> unknown;
  Microsoft::WRL::ComPtr<IDispatch> dispatch;
  Microsoft::WRL::ComPtr<IDispatchEx> dispatch_ex;
  ASSERT_EQ(bridge_->QueryInterface(IID_IUnknown, &unknown), S_OK);
  ASSERT_EQ(bridge_->QueryInterface(IID_IDispatch, &dispatch), S_OK);
  ASSERT_EQ(bridge_->QueryInterface(kIidDispatchEx, &dispatch_ex), S_OK);
  EXPECT_EQ(static_cast<void*>(unknown.Get()), static_cast<void*>(bridge_));
  EXPECT_EQ(static_cast<void*>(dispatch.Get()), static_cast<void*>(bridge_));
  void* other = reinterpret_cast<void*>(1);
  EXPECT_EQ(bridge_->QueryInterface(IID_IClassFactory, &other), E_NOINTERFACE);
  EXPECT_EQ(other, nullptr);
  UINT count = 0;
  EXPECT_EQ(bridge_->GetTypeInfoCount(&count), E_NOTIMPL);
  // The application's reference plus the three just taken.
  EXPECT_EQ(bridge_->AddRef(), 5u);
  EXPECT_EQ(bridge_->Release(), 4u);
  unknown.Reset();
  dispatch.Reset();
  dispatch_ex.Reset();
  EXPECT_EQ(bridge_->AddRef(), 2u);
  EXPECT_EQ(bridge_->Release(), 1u);
}

TEST_F(HtmlExternalTest, GetIDsOfNamesIsCaseSensitiveButGetDispIdCanIgnoreCase) {
  LPOLESTR exact[] = {const_cast<LPOLESTR>(L"getProperty")};
  LPOLESTR other_case[] = {const_cast<LPOLESTR>(L"GetProperty")};
  DISPID id = 0;
  ASSERT_EQ(bridge_->GetIDsOfNames(IID_NULL, exact, 1, 0, &id), S_OK);
  EXPECT_GE(id, 1);
  EXPECT_LE(id, kMethods);
  DISPID missing = 0;
  EXPECT_EQ(bridge_->GetIDsOfNames(IID_NULL, other_case, 1, 0, &missing), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(missing, DISPID_UNKNOWN);

  HRESULT hr = S_OK;
  EXPECT_EQ(DispId(L"GetProperty", fdexNameCaseInsensitive, &hr), id);
  EXPECT_EQ(hr, S_OK);
  EXPECT_EQ(DispId(L"GetProperty", 0, &hr), DISPID_UNKNOWN);
  EXPECT_EQ(hr, DISP_E_UNKNOWNNAME);
  EXPECT_EQ(DispId(L"getProperty", 0, &hr), id);
}

TEST_F(HtmlExternalTest, MixedKnownAndUnknownNamesFillEveryIdentifier) {
  LPOLESTR names[] = {const_cast<LPOLESTR>(L"setProperty"), const_cast<LPOLESTR>(L"noSuchMethod"),
                      const_cast<LPOLESTR>(L"checkOS")};
  DISPID ids[3] = {0, 0, 0};
  EXPECT_EQ(bridge_->GetIDsOfNames(IID_NULL, names, 3, 0, ids), DISP_E_UNKNOWNNAME);
  EXPECT_GT(ids[0], 0);
  EXPECT_EQ(ids[1], DISPID_UNKNOWN);
  EXPECT_GT(ids[2], 0) << "names after an unknown one are still looked up";
  EXPECT_EQ(bridge_->GetIDsOfNames(IID_NULL, names, 0, 0, ids), S_OK);
}

TEST_F(HtmlExternalTest, GetIDsOfNamesDoesNotSeeExpandos) {
  DispId(L"myValue", fdexNameEnsure);
  LPOLESTR names[] = {const_cast<LPOLESTR>(L"myValue")};
  DISPID id = 0;
  EXPECT_EQ(bridge_->GetIDsOfNames(IID_NULL, names, 1, 0, &id), DISP_E_UNKNOWNNAME);
}

TEST_F(HtmlExternalTest, InvokeOutsideTheMethodRangeOrWithAnInterfaceIsRefused) {
  ScriptArgs none;
  EXPECT_EQ(bridge_->Invoke(0, IID_NULL, 0, DISPATCH_METHOD, none.params(), nullptr, nullptr, nullptr),
            DISP_E_MEMBERNOTFOUND);
  EXPECT_EQ(bridge_->Invoke(kMethods + 1, IID_NULL, 0, DISPATCH_METHOD, none.params(), nullptr, nullptr, nullptr),
            DISP_E_MEMBERNOTFOUND);
  EXPECT_EQ(bridge_->Invoke(1, IID_IDispatch, 0, DISPATCH_METHOD, none.params(), nullptr, nullptr, nullptr),
            DISP_E_UNKNOWNINTERFACE);
  EXPECT_EQ(bridge_->InvokeEx(0, 0, DISPATCH_METHOD, none.params(), nullptr, nullptr, nullptr),
            DISP_E_MEMBERNOTFOUND);
}

TEST_F(HtmlExternalTest, InvokeExWithAMethodIdentifierReachesTheHandler) {
  DISPID id = DispId(L"setProperty", 0);
  ScriptArgs args;
  args.Text(L"XChannel").Text(L"beta");
  EXPECT_EQ(bridge_->InvokeEx(id, 0, DISPATCH_METHOD, args.params(), nullptr, nullptr, nullptr), S_OK);
  EXPECT_EQ(app_->external()->GetProperty(L"XChannel"), L"beta");
}

// external.answer = 5; external.answer; delete external.answer; ...
TEST_F(HtmlExternalTest, ExpandoIsCreatedReadDeletedAndRevivedEmpty) {
  HRESULT hr = S_OK;
  EXPECT_EQ(DispId(L"answer", 0, &hr), DISPID_UNKNOWN);
  EXPECT_EQ(hr, DISP_E_UNKNOWNNAME);

  DISPID id = DispId(L"answer", fdexNameEnsure, &hr);
  ASSERT_EQ(hr, S_OK);
  EXPECT_EQ(id, kExpandoBase + 0);
  ScriptArgs five;
  five.Int(5);
  ASSERT_EQ(Put(id, five), S_OK);
  EXPECT_EQ(DispId(L"answer", 0), id);
  UniqueVariant value;
  ASSERT_EQ(Get(id, value.Receive()), S_OK);
  EXPECT_EQ(value.Type(), VT_I4);
  EXPECT_EQ(value.Get()->lVal, 5);

  UniqueBstr name(L"answer");
  EXPECT_EQ(bridge_->DeleteMemberByName(name.Get(), 0), S_OK);
  EXPECT_EQ(DispId(L"answer", 0, &hr), DISPID_UNKNOWN);
  EXPECT_EQ(hr, DISP_E_UNKNOWNNAME);
  EXPECT_EQ(Get(id, value.Receive()), DISP_E_UNKNOWNNAME) << "a deleted value is never handed out";

  EXPECT_EQ(DispId(L"answer", fdexNameEnsure, &hr), id) << "revived in place";
  EXPECT_EQ(hr, S_OK);
  ASSERT_EQ(Get(id, value.Receive()), S_OK);
  EXPECT_EQ(value.Type(), VT_EMPTY);
  EXPECT_EQ(app_->external()->expandos().count(), 1);
}

TEST_F(HtmlExternalTest, ExpandoLookupFlags) {
  DISPID id = DispId(L"pageState", fdexNameEnsure);
  HRESULT hr = S_OK;
  EXPECT_EQ(DispId(L"PAGESTATE", fdexNameCaseInsensitive, &hr), id);
  EXPECT_EQ(DispId(L"PAGESTATE", 0, &hr), DISPID_UNKNOWN);
  EXPECT_EQ(DispId(L"pageState", fdexNameNoDynamicProperties, &hr), DISPID_UNKNOWN);
  EXPECT_EQ(hr, DISP_E_UNKNOWNNAME);
  // A method name is never shadowed by ensure.
  EXPECT_EQ(DispId(L"closeWindow", fdexNameEnsure), DispId(L"closeWindow", 0));
  EXPECT_EQ(app_->external()->expandos().count(), 1);
}

TEST_F(HtmlExternalTest, ExpandoAccessRules) {
  DISPID id = DispId(L"v", fdexNameEnsure);
  ScriptArgs one;
  one.Int(1);
  EXPECT_EQ(bridge_->InvokeEx(id, 0, DISPATCH_PROPERTYPUT, one.params(), nullptr, nullptr, nullptr),
            DISP_E_PARAMNOTFOUND) << "a put must name its value";
  DISPID wrong_name[] = {0};
  EXPECT_EQ(bridge_->InvokeEx(id, 0, DISPATCH_PROPERTYPUT, one.params(wrong_name, 1), nullptr, nullptr, nullptr),
            DISP_E_PARAMNOTFOUND);
  ScriptArgs two;
  two.Int(1).Int(2);
  EXPECT_EQ(Put(id, two), DISP_E_BADPARAMCOUNT);
  UniqueVariant value;
  EXPECT_EQ(bridge_->InvokeEx(id, 0, DISPATCH_PROPERTYGET, one.params(), value.Receive(), nullptr, nullptr),
            DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(bridge_->InvokeEx(id, 0, DISPATCH_METHOD | DISPATCH_PROPERTYGET, nullptr, value.Receive(), nullptr,
                              nullptr),
            E_NOTIMPL);
  EXPECT_EQ(Get(kExpandoBase + 1, value.Receive()), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(Get(DISPID_UNKNOWN, value.Receive()), DISP_E_UNKNOWNNAME);

  // putref stores like put; a text put by reference is stored as its own copy.
  UniqueBstr text(L"kept");
  BSTR raw = text.Get();
  ScriptArgs by_ref;
  by_ref.TextByRef(&raw);
  ASSERT_EQ(Put(id, by_ref, DISPATCH_PROPERTYPUTREF), S_OK);
  text.Reset();
  ASSERT_EQ(Get(id, value.Receive()), S_OK);
  ASSERT_EQ(value.Type(), VT_BSTR);
  EXPECT_STREQ(value.Get()->bstrVal, L"kept");

  // Calling a value that is no function does nothing.
  ScriptArgs none;
  EXPECT_EQ(bridge_->InvokeEx(id, 0, DISPATCH_METHOD, none.params(), nullptr, nullptr, nullptr), S_OK);
}

TEST_F(HtmlExternalTest, CallingAnExpandoFunctionForwardsTheSameArguments) {
  for (bool offer_ex : {false, true}) {
    SCOPED_TRACE(offer_ex ? "through IDispatchEx" : "through IDispatch");
    RecordingFunction function(offer_ex);
    DISPID id = DispId(offer_ex ? L"onDoneEx" : L"onDone", fdexNameEnsure);
    {
      ScriptArgs value;
      value.Dispatch(&function);
      ASSERT_EQ(Put(id, value), S_OK);
    }
    EXPECT_EQ(function.refs(), 2) << "the expando holds the function";

    ScriptArgs args;
    args.Int(10).Int(2000).Int(500);
    UniqueVariant result;
    ASSERT_EQ(bridge_->InvokeEx(id, 0, DISPATCH_METHOD, args.params(), result.Receive(), nullptr, nullptr), S_OK);
    ASSERT_EQ(function.calls.size(), 1u);
    EXPECT_EQ(function.calls[0].args, (std::vector<LONG>{10, 2000, 500}));
    EXPECT_EQ(function.calls[0].flags, DISPATCH_METHOD);
    EXPECT_EQ(result.Get()->lVal, 42) << "the function's result comes back";
    EXPECT_EQ(function.via_invoke_ex_, offer_ex ? 1 : 0);
    EXPECT_EQ(function.via_invoke_, offer_ex ? 0 : 1);

    UniqueBstr name(offer_ex ? L"onDoneEx" : L"onDone");
    ASSERT_EQ(bridge_->DeleteMemberByName(name.Get(), 0), S_OK);
    EXPECT_EQ(function.refs(), 1) << "deleting the expando released the function";
  }
}

TEST_F(HtmlExternalTest, MethodsCannotBeDeleted) {
  UniqueBstr name(L"getProperty");
  EXPECT_EQ(bridge_->DeleteMemberByName(name.Get(), 0), S_FALSE);
  EXPECT_EQ(bridge_->DeleteMemberByDispID(DispId(L"getProperty", 0)), S_FALSE);
  EXPECT_EQ(bridge_->DeleteMemberByDispID(kExpandoBase + 7), S_OK);
  UniqueBstr unknown(L"neverThere");
  EXPECT_EQ(bridge_->DeleteMemberByName(unknown.Get(), fdexNameEnsure), S_OK);
  EXPECT_EQ(app_->external()->expandos().count(), 0) << "deleting by name creates nothing";
}

TEST_F(HtmlExternalTest, ExpandoArrayGrowsInStepsOf32AndKeepsIdentifiers) {
  for (int i = 0; i < 33; ++i) {
    std::wstring name = L"e" + std::to_wstring(i);
    EXPECT_EQ(DispId(name.c_str(), fdexNameEnsure), kExpandoBase + i);
    ScriptArgs value;
    value.Int(i);
    ASSERT_EQ(Put(kExpandoBase + i, value), S_OK);
    EXPECT_EQ(app_->external()->expandos().capacity(), i < 32 ? 32 : 64);
  }
  UniqueVariant value;
  ASSERT_EQ(Get(kExpandoBase + 31, value.Receive()), S_OK);
  EXPECT_EQ(value.Get()->lVal, 31) << "values survive the growth";
}

TEST_F(HtmlExternalTest, ExtractionProgressFeedsTheInstallCounters) {
  archive::ZipReporter* reporter = app_->external();
  reporter->Progress(57, 94);
  EXPECT_EQ(app_->external()->GetProperty(L"installCurrent"), L"5");
  EXPECT_EQ(app_->external()->GetProperty(L"installTotal"), L"94");
  reporter->Progress(94, 94);
  EXPECT_EQ(app_->external()->GetInstallCurrent(), 9);
  reporter->Error(112);
  EXPECT_EQ(app_->external()->last_extraction_error(), 112);
}

TEST_F(HtmlExternalTest, RunStateAndWindowReachTheTable) {
  HtmlExternal* bridge = app_->external();
  ASSERT_EQ(bridge->run(), &app_->run_state()) << "the methods reach the application's run state";
  HWND fake = reinterpret_cast<HWND>(0x1234);
  bridge->SetWindow(fake);
  EXPECT_EQ(methods_->host_window(), fake);
  bridge->SetWindow(nullptr);
  EXPECT_EQ(methods_->host_window(), nullptr);
}

// Eight threads write and read through the table's lock at once.
TEST_F(HtmlExternalTest, ConcurrentPropertyOperationsLoseNothingAndTearNothing) {
  constexpr int kThreads = 8;
  constexpr int kRounds = 400;
  HtmlExternal* bridge = app_->external();
  std::vector<std::thread> threads;
  std::vector<int> torn(kThreads, 0);
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([bridge, t, &torn] {
      std::wstring mine(64 + t, static_cast<wchar_t>(L'A' + t));
      for (int i = 0; i < kRounds; ++i) {
        bridge->SetProperty(L"t" + std::to_wstring(t) + L"_" + std::to_wstring(i), L"v");
        bridge->SetProperty(L"shared", mine);
        std::wstring seen = bridge->GetProperty(L"shared");
        if (seen.size() < 64 || seen.size() >= 64 + kThreads ||
            seen.find_first_not_of(seen[0]) != std::wstring::npos ||
            seen.size() != 64 + static_cast<size_t>(seen[0] - L'A')) {
          torn[t]++;
        }
        bridge->SetDownloadCurrent(static_cast<unsigned long>(i));
      }
    });
  }
  for (auto& thread : threads) thread.join();
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(torn[t], 0) << "thread " << t;
  const auto& entries = app_->context().properties().entries();
  for (int t = 0; t < kThreads; ++t) {
    for (int i = 0; i < kRounds; ++i) {
      ASSERT_EQ(entries.count(L"t" + std::to_wstring(t) + L"_" + std::to_wstring(i)), 1u);
    }
  }
  EXPECT_EQ(bridge->GetDownloadCurrent(), kRounds - 1);
}

// A real popup window under Wine's null display.
class BridgeWindowTest : public HtmlExternalTest {
 protected:
  void SetUp() override {
    HtmlExternalTest::SetUp();
    if (HasFatalFailure()) return;
    window_ = CreateWindowExW(WS_EX_APPWINDOW, L"STATIC", L"", WS_POPUP | WS_VISIBLE, 0, 0, 0, 0, nullptr, nullptr,
                              GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(window_, nullptr);
    app_->external()->SetWindow(window_);
  }
  void TearDown() override {
    if (app_) app_->external()->SetWindow(nullptr);
    DestroyWindow(window_);
    HtmlExternalTest::TearDown();
  }
  SIZE Size() {
    RECT r = {};
    GetWindowRect(window_, &r);
    return SIZE{r.right - r.left, r.bottom - r.top};
  }
  int Dpi() {
    HDC dc = GetDC(nullptr);
    int dpi = GetDeviceCaps(dc, LOGPIXELSX);
    ReleaseDC(nullptr, dc);
    return dpi;
  }
  HWND window_ = nullptr;
};

TEST_F(BridgeWindowTest, DefaultSizeOnlyWhileTheClientAreaIsEmpty) {
  app_->external()->ApplyDefaultSize();
  SIZE size = Size();
  EXPECT_EQ(size.cx, 400 * Dpi() / 96);
  EXPECT_EQ(size.cy, 200 * Dpi() / 96);
  app_->external()->SetWindowSize(464, 124);
  app_->external()->ApplyDefaultSize();
  EXPECT_EQ(Size().cx, 464 * Dpi() / 96) << "a page that sized itself keeps its size";
}

TEST_F(BridgeWindowTest, TheSameSizeTwiceMovesTheWindowOnce) {
  app_->external()->SetWindowSize(464, 124);
  EXPECT_EQ(app_->external()->last_width(), Size().cx);
  SetWindowPos(window_, nullptr, 3, 4, 10, 10, SWP_NOZORDER | SWP_NOACTIVATE);
  app_->external()->SetWindowSize(464, 124);
  EXPECT_EQ(Size().cx, 10) << "an unchanged size is not applied again";
  app_->external()->SetWindowSize(465, 124);
  EXPECT_EQ(Size().cx, 465 * Dpi() / 96);
}

}  // namespace
}  // namespace stubframework::htmlui
