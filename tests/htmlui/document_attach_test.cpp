// The site's sequences with a document: attaching, activating a view, loading
// the start page, resizing, the ready state, tearing down. The document is a
// recording stand-in, since the HTML engine cannot run here.
#include <gtest/gtest.h>

#include "htmlui/fake_document.h"
#include "htmlui/host_test_support.h"
#include "htmlui/mshtml_client.h"

namespace stubframework::htmlui {
namespace {

using namespace testsupport;

class DocumentAttachTest : public ::testing::Test {
 protected:
  void SetUp() override {
    window_ = ::CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 300, 150, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(window_, nullptr);
    site_ = new MSHTMLClient(window_, bridge_.get());
  }
  void TearDown() override {
    site_->TearDown();
    EXPECT_EQ(site_->Release(), 0u);
    EXPECT_EQ(document_.references, 1u) << "the site gave back every reference to the document";
    EXPECT_EQ(document_.sink, nullptr);
    ::DestroyWindow(window_);
  }

  Apartment apartment_;
  BridgeHolder bridge_;
  FakeDocument document_;
  HWND window_ = nullptr;
  MSHTMLClient* site_ = nullptr;
};

TEST_F(DocumentAttachTest, AttachingAdvisesSetsTheClientSiteAndActivatesInPlace) {
  ASSERT_TRUE(site_->AttachDocument(&document_));
  EXPECT_EQ(document_.Calls(), "Advise;SetClientSite(site);DoVerb(-5,null,site,0,300x150);");
  EXPECT_EQ(document_.sink, static_cast<IPropertyNotifySink*>(site_));
  EXPECT_EQ(document_.client_site, static_cast<IOleClientSite*>(site_));
  EXPECT_EQ(document_.verb_window, window_);
  EXPECT_TRUE(site_->has_document());
}

TEST_F(DocumentAttachTest, EachFailingStepFailsTheAttachment) {
  document_.has_connection_point = false;
  EXPECT_FALSE(site_->AttachDocument(&document_));
  EXPECT_EQ(document_.Calls(), "");

  document_.has_connection_point = true;
  document_.set_client_site_result = E_FAIL;
  site_->TearDown();
  document_.calls.clear();
  EXPECT_FALSE(site_->AttachDocument(&document_));
  EXPECT_EQ(document_.Calls(), "Advise;SetClientSite(site);");

  document_.set_client_site_result = S_OK;
  document_.do_verb_result = E_FAIL;
  // Attaching again first tears the earlier document down.
  document_.calls.clear();
  EXPECT_FALSE(site_->AttachDocument(&document_));
  EXPECT_EQ(document_.Calls(),
            "Unadvise(42);SetClientSite(null);Advise;SetClientSite(site);DoVerb(-5,null,site,0,300x150);");
}

TEST_F(DocumentAttachTest, ActivationWithoutAViewCreatesOneAndShowsIt) {
  ASSERT_TRUE(site_->AttachDocument(&document_));
  document_.calls.clear();
  ASSERT_EQ(static_cast<IOleDocumentSite*>(site_)->ActivateMe(nullptr), S_OK);
  EXPECT_EQ(document_.Calls(), "CreateView(site,null,0);SetInPlaceSite;SetRect(300x150);UIActivate(1);Show(1);");
  EXPECT_EQ(document_.in_place_site, static_cast<IOleInPlaceSite*>(static_cast<IOleInPlaceSiteEx*>(site_)));
}

TEST_F(DocumentAttachTest, ResizeGoesToTheViewOnceThereIsOne) {
  ASSERT_TRUE(site_->AttachDocument(&document_));
  ::SetWindowPos(window_, nullptr, 0, 0, 640, 480, SWP_NOZORDER | SWP_NOACTIVATE);
  document_.calls.clear();
  site_->Resize();
  EXPECT_EQ(document_.Calls(), "SetObjectRects(640x480,same);");
  ASSERT_EQ(static_cast<IOleDocumentSite*>(site_)->ActivateMe(&document_), S_OK);
  document_.calls.clear();
  site_->Resize();
  EXPECT_EQ(document_.Calls(), "SetRect(640x480);");
}

TEST_F(DocumentAttachTest, TearingDownClosesTheViewStopsNotificationsAndDetaches) {
  ASSERT_TRUE(site_->AttachDocument(&document_));
  ASSERT_EQ(static_cast<IOleDocumentSite*>(site_)->ActivateMe(nullptr), S_OK);
  document_.calls.clear();
  site_->TearDown();
  EXPECT_EQ(document_.Calls(), "CloseView(0);Unadvise(42);SetClientSite(null);");
  EXPECT_FALSE(site_->has_document());
  document_.calls.clear();
  site_->TearDown();
  EXPECT_EQ(document_.Calls(), "") << "a second tear-down has nothing left to do";
}

TEST_F(DocumentAttachTest, StartPageIsLoadedThroughAUrlMoniker) {
  ASSERT_TRUE(site_->AttachDocument(&document_));
  document_.calls.clear();
  EXPECT_TRUE(site_->NavigateTo(L"C:\\bundle\\Load.html"));
  EXPECT_EQ(document_.Calls(), "Load(0,bc,0);");
  EXPECT_NE(document_.loaded_url.find(L"Load.html"), std::wstring::npos);
  document_.load_result = E_FAIL;
  EXPECT_FALSE(site_->NavigateTo(L"C:\\bundle\\Load.html"));
}

TEST_F(DocumentAttachTest, CompleteDocumentGetsTheDefaultSizeOnce) {
  // The host window starts visible but empty.
  HWND host = ::CreateWindowExW(WS_EX_APPWINDOW, L"STATIC", L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, nullptr,
                                nullptr);
  ASSERT_NE(host, nullptr);
  bridge_.get()->SetWindow(host);
  ASSERT_TRUE(site_->AttachDocument(&document_));
  document_.calls.clear();

  document_.ready_state = 3;
  EXPECT_EQ(site_->OnChanged(-525), S_OK);
  EXPECT_EQ(document_.Calls(), "Invoke(-525,2,0);");
  EXPECT_EQ(document_.ready_state_lcid, 0x800u);
  RECT rect = {};
  ::GetWindowRect(host, &rect);
  EXPECT_EQ(rect.right - rect.left, 0) << "not complete yet";

  document_.calls.clear();
  EXPECT_EQ(site_->OnChanged(DISPID_UNKNOWN), S_OK);
  EXPECT_EQ(document_.Calls(), "") << "other properties are not looked at";

  document_.ready_state = 4;
  EXPECT_EQ(site_->OnChanged(-525), S_OK);
  HDC screen = ::GetDC(nullptr);
  int dpi = ::GetDeviceCaps(screen, LOGPIXELSX);
  ::ReleaseDC(nullptr, screen);
  ::GetWindowRect(host, &rect);
  EXPECT_EQ(rect.right - rect.left, 400 * dpi / 96);
  EXPECT_EQ(rect.bottom - rect.top, 200 * dpi / 96);

  bridge_.get()->SetWindow(nullptr);
  ::DestroyWindow(host);
}

TEST_F(DocumentAttachTest, DocumentSeesMessagesFirst) {
  MSG tab = {window_, WM_KEYDOWN, VK_TAB, 0};
  MSG letter = {window_, WM_KEYDOWN, 'A', 0};
  EXPECT_FALSE(site_->TranslateAcceleratorMessage(&tab)) << "no document yet";
  ASSERT_TRUE(site_->AttachDocument(&document_));
  EXPECT_TRUE(site_->TranslateAcceleratorMessage(&tab));
  EXPECT_FALSE(site_->TranslateAcceleratorMessage(&letter));
}

}  // namespace
}  // namespace stubframework::htmlui
