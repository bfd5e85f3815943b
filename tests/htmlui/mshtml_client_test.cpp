// The document site called directly, as MSHTML calls it: which interfaces it
// answers, and what each host-customisation call returns.
#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "htmlui/host_test_support.h"
#include "htmlui/mshtml_client.h"

namespace stubframework::htmlui {
namespace {

using namespace testsupport;

// A plain window to host the site; its caption and client area are observable.
class MshtmlClientTest : public ::testing::Test {
 protected:
  void SetUp() override {
    window_ = ::CreateWindowExW(0, L"STATIC", L"before", WS_POPUP, 10, 20, 300, 150, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(window_, nullptr);
    site_ = new MSHTMLClient(window_, bridge_.get());
  }
  void TearDown() override {
    if (site_ != nullptr) {
      EXPECT_EQ(site_->Release(), 0u) << "every reference taken was given back";
    }
    ::DestroyWindow(window_);
  }
  template <typename T>
  T* As(REFIID iid) {
    void* object = nullptr;
    EXPECT_EQ(site_->QueryInterface(iid, &object), S_OK);
    return static_cast<T*>(object);
  }

  Apartment apartment_;
  BridgeHolder bridge_;
  HWND window_ = nullptr;
  MSHTMLClient* site_ = nullptr;
};

TEST_F(MshtmlClientTest, QueryInterfaceHandsOutTheTablesThatShareOneCount) {
  IUnknown* unknown = As<IUnknown>(IID_IUnknown);
  const std::vector<std::pair<IID, void*>> answers = {
      {IID_IUnknown, static_cast<IDispatch*>(site_)},
      {IID_IDispatch, static_cast<IDispatch*>(site_)},
      {kIidDocHostUiHandler, static_cast<IDocHostUIHandler2*>(site_)},
      {kIidDocHostUiHandler2, static_cast<IDocHostUIHandler2*>(site_)},
      {kIidDocHostShowUi, static_cast<IDocHostShowUI*>(site_)},
      {IID_IOleClientSite, static_cast<IOleClientSite*>(site_)},
      {IID_IOleDocumentSite, static_cast<IOleDocumentSite*>(site_)},
      {IID_IOleWindow, static_cast<IOleInPlaceSiteEx*>(site_)},
      {IID_IOleInPlaceSite, static_cast<IOleInPlaceSiteEx*>(site_)},
      {IID_IOleInPlaceSiteEx, static_cast<IOleInPlaceSiteEx*>(site_)},
      {IID_IOleInPlaceUIWindow, static_cast<IOleInPlaceFrame*>(site_)},
      {IID_IOleInPlaceFrame, static_cast<IOleInPlaceFrame*>(site_)},
      {IID_IPropertyNotifySink, static_cast<IPropertyNotifySink*>(site_)},
      {IID_IOleCommandTarget, static_cast<IOleCommandTarget*>(site_)},
      {IID_IServiceProvider, static_cast<IServiceProvider*>(site_)},
  };
  ULONG count = RefCount(unknown);
  for (size_t i = 0; i < answers.size(); ++i) {
    void* object = nullptr;
    ASSERT_EQ(site_->QueryInterface(answers[i].first, &object), S_OK) << i;
    EXPECT_EQ(object, answers[i].second) << i;
    EXPECT_EQ(RefCount(unknown), count + 1) << i << ": one more reference on the shared count";
    static_cast<IUnknown*>(object)->Release();
  }
  // The in-place site and the frame are distinct tables of one object.
  EXPECT_NE(static_cast<void*>(static_cast<IOleInPlaceSiteEx*>(site_)),
            static_cast<void*>(static_cast<IOleInPlaceFrame*>(site_)));
  unknown->Release();
}

TEST_F(MshtmlClientTest, QueryInterfaceRefusesEverythingElseWithANullResult) {
  IServiceProvider* never = reinterpret_cast<IServiceProvider*>(0x1);
  ULONG count = RefCount(static_cast<IDispatch*>(site_));
  for (REFIID iid : {IID_IHlinkFrame, IID_IOleInPlaceSiteWindowless, IID_IOleControlSite,
                     IID_IOleContainer, IID_IPersist}) {
    void* object = never;
    EXPECT_EQ(site_->QueryInterface(iid, &object), E_NOINTERFACE);
    EXPECT_EQ(object, nullptr);
  }
  EXPECT_EQ(RefCount(static_cast<IDispatch*>(site_)), count);
}

TEST_F(MshtmlClientTest, AmbientDispatchAnswersOnlyTheDownloadControl) {
  IDispatch* ambient = static_cast<IDispatch*>(site_);
  DISPPARAMS none = {};
  VARIANT result;
  ::VariantInit(&result);
  ASSERT_EQ(ambient->Invoke(-5512, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &result, nullptr, nullptr), S_OK);
  EXPECT_EQ(V_VT(&result), VT_I4);
  EXPECT_EQ(V_I4(&result), 8304);
  EXPECT_EQ(ambient->Invoke(-5513, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &result, nullptr, nullptr),
            DISP_E_MEMBERNOTFOUND);
  EXPECT_EQ(ambient->Invoke(DISPID_AMBIENT_USERMODE, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &result, nullptr,
                            nullptr),
            DISP_E_MEMBERNOTFOUND);
  UINT count = 0;
  EXPECT_EQ(ambient->GetTypeInfoCount(&count), E_NOTIMPL);
  EXPECT_EQ(ambient->GetIDsOfNames(IID_NULL, nullptr, 0, 0, nullptr), E_NOTIMPL);
}

TEST_F(MshtmlClientTest, HostInfoAndContextMenus) {
  IDocHostUIHandler2* handler = site_;
  DOCHOSTUIINFO info = {sizeof(info)};
  info.dwDoubleClick = 77;
  info.pchHostCss = reinterpret_cast<OLECHAR*>(0x1);
  ASSERT_EQ(handler->GetHostInfo(&info), S_OK);
  EXPECT_EQ(info.dwFlags, 0x40250003u);
  EXPECT_EQ(info.dwDoubleClick, 0u);
  EXPECT_EQ(info.pchHostCss, nullptr);
  EXPECT_EQ(info.pchHostNS, nullptr);

  POINT at = {5, 5};
  // Controls, selected text and the scroll bars keep MSHTML's own menu.
  for (DWORD kind : {2u, 4u, 10u, 11u}) EXPECT_EQ(handler->ShowContextMenu(kind, &at, nullptr, nullptr), S_FALSE);
  for (DWORD kind : {0u, 1u, 3u, 5u, 9u, 12u, 13u}) EXPECT_EQ(handler->ShowContextMenu(kind, &at, nullptr, nullptr), S_OK);
}

TEST_F(MshtmlClientTest, HostUiHandlerRows) {
  IDocHostUIHandler2* handler = site_;
  EXPECT_EQ(handler->ShowUI(0, nullptr, nullptr, nullptr, nullptr), S_FALSE);
  EXPECT_EQ(handler->HideUI(), S_OK);
  EXPECT_EQ(handler->UpdateUI(), S_OK);
  EXPECT_EQ(handler->EnableModeless(TRUE), S_OK);
  EXPECT_EQ(handler->OnDocWindowActivate(TRUE), E_NOTIMPL);
  EXPECT_EQ(handler->OnFrameWindowActivate(TRUE), E_NOTIMPL);
  EXPECT_EQ(handler->ResizeBorder(nullptr, nullptr, TRUE), E_NOTIMPL);
  MSG message = {};
  EXPECT_EQ(handler->TranslateAccelerator(&message, nullptr, 0), E_NOTIMPL);
  LPOLESTR key = reinterpret_cast<LPOLESTR>(0x1);
  EXPECT_EQ(handler->GetOptionKeyPath(&key, 0), S_FALSE);
  EXPECT_EQ(key, nullptr);
  key = reinterpret_cast<LPOLESTR>(0x1);
  EXPECT_EQ(handler->GetOverrideKeyPath(&key, 0), S_FALSE);
  EXPECT_EQ(key, nullptr);
  IDropTarget* drop = nullptr;
  EXPECT_EQ(handler->GetDropTarget(nullptr, &drop), E_FAIL);
  LPWSTR translated = reinterpret_cast<LPWSTR>(0x1);
  wchar_t url[] = L"file:///C:/x.html";
  EXPECT_EQ(handler->TranslateUrl(0, url, &translated), S_FALSE);
  EXPECT_EQ(translated, nullptr);
  EXPECT_EQ(handler->FilterDataObject(nullptr, nullptr), E_NOTIMPL);
}

// Whose page asks decides (page_trust_test.cpp); with no document, no page is
// the stub's own.
TEST_F(MshtmlClientTest, GetExternalWithoutADocumentGivesNothing) {
  IDispatch* external = reinterpret_cast<IDispatch*>(0x1);
  ULONG count = RefCount(bridge_.dispatch());
  site_->SetPageFolder(L"C:\\Temp\\1a2b\\");
  EXPECT_EQ(site_->GetExternal(&external), S_FALSE);
  EXPECT_EQ(external, nullptr);
  EXPECT_EQ(RefCount(bridge_.dispatch()), count);
}

TEST(MshtmlClientWithoutBridgeTest, GetExternalGivesNothing) {
  Apartment apartment;
  MSHTMLClient* site = new MSHTMLClient(nullptr, nullptr);
  IDispatch* external = reinterpret_cast<IDispatch*>(0x1);
  EXPECT_EQ(site->GetExternal(&external), S_FALSE);
  EXPECT_EQ(external, nullptr);
  // Without a bridge a completed document changes nothing.
  EXPECT_EQ(site->OnChanged(-525), S_OK);
  EXPECT_EQ(site->Release(), 0u);
}

TEST_F(MshtmlClientTest, ScriptMessageBoxesAreSwallowed) {
  IDocHostShowUI* show = site_;
  LRESULT answer = 0;
  wchar_t text[] = L"alert text";
  wchar_t caption[] = L"MshtmlClientTest alert";
  EXPECT_EQ(show->ShowMessage(window_, text, caption, MB_OK, nullptr, 0, &answer), S_OK);
  EXPECT_EQ(::FindWindowW(L"#32770", caption), nullptr) << "no box was shown";
  POINT at = {};
  EXPECT_EQ(show->ShowHelp(window_, nullptr, 0, 0, at, nullptr), E_NOTIMPL);
}

TEST_F(MshtmlClientTest, ClientSiteRows) {
  IOleClientSite* client = site_;
  EXPECT_EQ(client->SaveObject(), E_NOTIMPL);
  IMoniker* moniker = nullptr;
  EXPECT_EQ(client->GetMoniker(0, 0, &moniker), E_NOTIMPL);
  IOleContainer* container = reinterpret_cast<IOleContainer*>(0x1);
  EXPECT_EQ(client->GetContainer(&container), E_NOINTERFACE);
  EXPECT_EQ(container, nullptr);
  EXPECT_EQ(client->ShowObject(), E_NOTIMPL);
  EXPECT_EQ(client->OnShowWindow(TRUE), E_NOTIMPL);
  EXPECT_EQ(client->RequestNewObjectLayout(), E_NOTIMPL);
}

TEST_F(MshtmlClientTest, InPlaceSiteAndFrameRows) {
  IOleInPlaceSiteEx* in_place = site_;
  IOleInPlaceFrame* frame_table = site_;
  HWND window = nullptr;
  ASSERT_EQ(in_place->GetWindow(&window), S_OK);
  EXPECT_EQ(window, window_);
  window = nullptr;
  ASSERT_EQ(frame_table->GetWindow(&window), S_OK);
  EXPECT_EQ(window, window_);
  for (HRESULT hr : {in_place->CanInPlaceActivate(), in_place->OnInPlaceActivate(), in_place->OnUIActivate(),
                     in_place->OnUIDeactivate(FALSE), in_place->OnInPlaceDeactivate(),
                     in_place->OnInPlaceDeactivateEx(TRUE), in_place->RequestUIActivate(),
                     frame_table->SetActiveObject(nullptr, nullptr), frame_table->EnableModeless(TRUE),
                     frame_table->SetStatusText(L"status")}) {
    EXPECT_EQ(hr, S_OK);
  }
  SIZE extent = {};
  RECT rect = {};
  MSG message = {};
  for (HRESULT hr : {in_place->ContextSensitiveHelp(TRUE), in_place->Scroll(extent), in_place->DiscardUndoState(),
                     in_place->DeactivateAndUndo(), in_place->OnPosRectChange(&rect), frame_table->GetBorder(&rect),
                     frame_table->RequestBorderSpace(nullptr), frame_table->SetBorderSpace(nullptr),
                     frame_table->InsertMenus(nullptr, nullptr), frame_table->SetMenu(nullptr, nullptr, nullptr),
                     frame_table->RemoveMenus(nullptr), frame_table->TranslateAccelerator(&message, 0)}) {
    EXPECT_EQ(hr, E_NOTIMPL);
  }
  BOOL no_redraw = FALSE;
  EXPECT_EQ(in_place->OnInPlaceActivateEx(&no_redraw, 0), S_OK);
  EXPECT_TRUE(no_redraw);
}

TEST_F(MshtmlClientTest, WindowContextIsTheFrameAndTheClientArea) {
  IOleInPlaceFrame* frame = nullptr;
  IOleInPlaceUIWindow* document = reinterpret_cast<IOleInPlaceUIWindow*>(0x1);
  RECT position = {}, clip = {};
  OLEINPLACEFRAMEINFO info = {sizeof(info)};
  info.haccel = reinterpret_cast<HACCEL>(0x1);
  info.cAccelEntries = 9;
  ULONG count = RefCount(static_cast<IDispatch*>(site_));
  ASSERT_EQ(static_cast<IOleInPlaceSiteEx*>(site_)->GetWindowContext(&frame, &document, &position, &clip, &info), S_OK);
  EXPECT_EQ(frame, static_cast<IOleInPlaceFrame*>(site_));
  EXPECT_EQ(RefCount(static_cast<IDispatch*>(site_)), count + 1);
  EXPECT_EQ(document, nullptr);
  EXPECT_EQ(position.right - position.left, 300);
  EXPECT_EQ(position.bottom - position.top, 150);
  EXPECT_TRUE(::EqualRect(&position, &clip));
  EXPECT_FALSE(info.fMDIApp);
  EXPECT_EQ(info.hwndFrame, window_);
  EXPECT_EQ(info.haccel, nullptr);
  EXPECT_EQ(info.cAccelEntries, 0u);
  frame->Release();
}

TEST_F(MshtmlClientTest, CommandTargetSetsTheTitleAndSortsGroups) {
  IOleCommandTarget* target = site_;
  wchar_t caption[64] = {};
  VARIANT title;
  ::VariantInit(&title);
  V_VT(&title) = VT_BSTR;
  V_BSTR(&title) = ::SysAllocString(L"Tessary Setup");
  ASSERT_EQ(target->Exec(nullptr, 28, 0, &title, nullptr), S_OK);
  ::GetWindowTextW(window_, caption, 64);
  EXPECT_STREQ(caption, L"Tessary Setup");
  ::VariantClear(&title);

  VARIANT number;
  ::VariantInit(&number);
  V_VT(&number) = VT_I4;
  V_I4(&number) = 5;
  EXPECT_EQ(target->Exec(nullptr, 28, 0, &number, nullptr), S_OK);
  ::GetWindowTextW(window_, caption, 64);
  EXPECT_STREQ(caption, L"Tessary Setup") << "a title that is not text changes nothing";
  EXPECT_EQ(target->Exec(nullptr, 28, 0, nullptr, nullptr), S_OK);
  EXPECT_EQ(target->Exec(nullptr, 27, 0, nullptr, nullptr), E_NOTIMPL);

  EXPECT_EQ(target->Exec(&kCgidDocHostCommandHandler, 6, 0, nullptr, nullptr), S_OK);
  EXPECT_EQ(target->Exec(&kCgidDocHostCommandHandler, 6041, 0, nullptr, nullptr), S_OK);
  for (DWORD command : {0u, 5u, 7u, 40u, 6040u, 6042u}) {
    EXPECT_EQ(target->Exec(&kCgidDocHostCommandHandler, command, 0, nullptr, nullptr), OLECMDERR_E_NOTSUPPORTED);
  }
  EXPECT_EQ(static_cast<long>(OLECMDERR_E_NOTSUPPORTED), static_cast<long>(0x80040100));
  EXPECT_EQ(target->Exec(&IID_IUnknown, 6, 0, nullptr, nullptr), static_cast<HRESULT>(0x80040104));
  EXPECT_EQ(target->QueryStatus(nullptr, 0, nullptr, nullptr), E_NOTIMPL);
}

TEST_F(MshtmlClientTest, PropertySinkAndSiteWithoutADocument) {
  IPropertyNotifySink* sink = site_;
  EXPECT_EQ(sink->OnChanged(-525), S_OK);
  EXPECT_EQ(sink->OnChanged(0), S_OK);
  EXPECT_EQ(sink->OnRequestEdit(-525), S_OK);
  EXPECT_FALSE(site_->NavigateTo(L"C:\\no\\document.html")) << "nothing to load into";
  MSG message = {};
  EXPECT_FALSE(site_->TranslateAcceleratorMessage(&message));
  EXPECT_EQ(static_cast<IOleDocumentSite*>(site_)->ActivateMe(nullptr), E_FAIL);
  site_->Resize();
  site_->TearDown();
  EXPECT_FALSE(site_->has_document());
}

TEST_F(MshtmlClientTest, LiveDocumentIsCreatedAttachedAndLoaded) {
  HRESULT available = HtmlDocumentAvailability();
  if (FAILED(available)) {
    GTEST_SKIP() << "the HTML document object cannot be created here (0x" << std::hex << available
                 << "): under Wine mshtml is switched off and no HTML engine is installed";
  }
  ASSERT_TRUE(site_->CreateDocument());
  EXPECT_TRUE(site_->has_document());
  EXPECT_TRUE(site_->NavigateTo(L"about:blank"));
  site_->TearDown();
  EXPECT_FALSE(site_->has_document());
}

}  // namespace
}  // namespace stubframework::htmlui
