// The site's side of "window.external only for the stub's own pages": the
// bridge goes only to a document loaded from the page folder, and every link
// the document follows comes to the site, which loads bundle pages itself,
// sends web addresses to the default browser and drops the rest. The
// document is a recording stand-in: MSHTML cannot run here, so whether
// MSHTML really asks QueryService for its hyperlink frame on every link (and
// calls GetExternal per document) is for a Windows run to show.
#include <gtest/gtest.h>

#include <urlmon.h>

#include <string>
#include <vector>

#include "htmlui/fake_document.h"
#include "htmlui/host_test_support.h"
#include "htmlui/mshtml_client.h"
#include "htmlui/script_methods.h"

namespace stubframework::htmlui {
namespace {

using namespace testsupport;

constexpr wchar_t kFolder[] = L"C:\\Temp\\1a2b\\";
constexpr wchar_t kStartPage[] = L"file:///C:/Temp/1a2b/Load.html";

// A method table without methods that records what it is asked to open.
class OpeningMethods : public ScriptMethods {
 public:
  std::size_t Count() const override { return 0; }
  bool Enumerate(Entry*, std::size_t) const override { return true; }
  void SetHostWindow(HWND) override {}
  base::CriticalSection& lock() override { return lock_; }
  bool OpenInBrowser(const std::wstring& url) override {
    opened.push_back(url);
    return true;
  }
  std::vector<std::wstring> opened;

 private:
  base::CriticalSection lock_;
};

// A link whose target is given as a moniker (as MSHTML's links are), or only
// as text when the moniker is missing.
class FakeLink : public IHlink {
 public:
  FakeLink(const std::wstring& url, bool as_moniker) : url_(url), as_moniker_(as_moniker) {}
  STDMETHODIMP QueryInterface(REFIID riid, void** object) override {
    *object = nullptr;
    if (riid != IID_IUnknown && riid != IID_IHlink) return E_NOINTERFACE;
    *object = static_cast<IHlink*>(this);
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++references; }
  STDMETHODIMP_(ULONG) Release() override { return --references; }
  STDMETHODIMP SetHlinkSite(IHlinkSite*, DWORD) override { return E_NOTIMPL; }
  STDMETHODIMP GetHlinkSite(IHlinkSite**, DWORD*) override { return E_NOTIMPL; }
  STDMETHODIMP SetMonikerReference(DWORD, IMoniker*, LPCWSTR) override { return E_NOTIMPL; }
  STDMETHODIMP GetMonikerReference(DWORD, IMoniker** target, LPWSTR* location) override {
    if (location != nullptr) *location = Copy(L"top");
    if (!as_moniker_) {
      *target = nullptr;
      return E_FAIL;
    }
    return ::CreateURLMonikerEx(nullptr, url_.c_str(), target, URL_MK_UNIFORM);
  }
  STDMETHODIMP SetStringReference(DWORD, LPCWSTR, LPCWSTR) override { return E_NOTIMPL; }
  STDMETHODIMP GetStringReference(DWORD, LPWSTR* target, LPWSTR* location) override {
    if (location != nullptr) *location = nullptr;
    *target = Copy(url_.c_str());
    return S_OK;
  }
  STDMETHODIMP SetFriendlyName(LPCWSTR) override { return E_NOTIMPL; }
  STDMETHODIMP GetFriendlyName(DWORD, LPWSTR*) override { return E_NOTIMPL; }
  STDMETHODIMP SetTargetFrameName(LPCWSTR) override { return E_NOTIMPL; }
  STDMETHODIMP GetTargetFrameName(LPWSTR*) override { return E_NOTIMPL; }
  STDMETHODIMP GetMiscStatus(DWORD*) override { return E_NOTIMPL; }
  STDMETHODIMP Navigate(DWORD, LPBC, IBindStatusCallback*, IHlinkBrowseContext*) override { return E_NOTIMPL; }
  STDMETHODIMP SetAdditionalParams(LPCWSTR) override { return E_NOTIMPL; }
  STDMETHODIMP GetAdditionalParams(LPWSTR*) override { return E_NOTIMPL; }
  ULONG references = 1;

 private:
  static LPWSTR Copy(const wchar_t* text) {
    size_t bytes = (wcslen(text) + 1) * sizeof(wchar_t);
    LPWSTR copy = static_cast<LPWSTR>(::CoTaskMemAlloc(bytes));
    memcpy(copy, text, bytes);
    return copy;
  }
  std::wstring url_;
  bool as_moniker_;
};

class PageTrustTest : public ::testing::Test {
 protected:
  void SetUp() override {
    window_ = ::CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 300, 150, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(window_, nullptr);
    ASSERT_TRUE(bridge_.get()->AttachMethods(&methods_));
    site_ = new MSHTMLClient(window_, bridge_.get());
    site_->SetPageFolder(kFolder);
    ASSERT_TRUE(site_->AttachDocument(&document_));
  }
  void TearDown() override {
    site_->TearDown();
    EXPECT_EQ(site_->Release(), 0u);
    ::DestroyWindow(window_);
  }
  // The URL the document was asked to load; empty when none.
  std::wstring Loaded() {
    std::wstring url = document_.loaded_url;
    document_.loaded_url.clear();
    return url;
  }

  Apartment apartment_;
  OpeningMethods methods_;
  BridgeHolder bridge_;
  FakeDocument document_;
  HWND window_ = nullptr;
  MSHTMLClient* site_ = nullptr;
};

TEST_F(PageTrustTest, OnlyADocumentFromThePageFolderGetsTheBridge) {
  const struct {
    const wchar_t* document_url;
    bool gets_bridge;
  } cases[] = {
      {kStartPage, true},
      {L"file:///C:/Temp/1a2b/pages/Welcome/page.html?x=1", true},
      {L"C:\\Temp\\1a2b\\pages\\Install\\Page.html", true},
      {L"", false},  // no URL to show
      {L"about:blank", false},
      {L"https://example.com/", false},
      {L"http://127.0.0.1:8080/Load.html", false},
      {L"file:///C:/Temp/other/Load.html", false},
      {L"file:///C:/Temp/1a2b/%2e%2e/other/Load.html", false},
      {L"file://attacker/share/Load.html", false},
      {L"res://ieframe.dll/navcancl.htm", false},
  };
  for (const auto& c : cases) {
    document_.url = c.document_url;
    IDispatch* external = reinterpret_cast<IDispatch*>(0x1);
    ULONG count = RefCount(bridge_.dispatch());
    HRESULT hr = site_->GetExternal(&external);
    if (c.gets_bridge) {
      EXPECT_EQ(hr, S_OK) << ::testing::PrintToString(std::wstring(c.document_url));
      EXPECT_EQ(external, bridge_.dispatch());
      EXPECT_EQ(RefCount(bridge_.dispatch()), count + 1) << "one reference for the document";
      if (external != nullptr) external->Release();
    } else {
      EXPECT_EQ(hr, S_FALSE) << ::testing::PrintToString(std::wstring(c.document_url));
      EXPECT_EQ(external, nullptr);
      EXPECT_EQ(RefCount(bridge_.dispatch()), count);
    }
  }
  // A site that was never told its folder trusts no page.
  site_->SetPageFolder(L"");
  document_.url = kStartPage;
  IDispatch* external = nullptr;
  EXPECT_EQ(site_->GetExternal(&external), S_FALSE);
  EXPECT_EQ(external, nullptr);
}

TEST_F(PageTrustTest, LinksLoadBundlePagesHereOpenTheWebInTheBrowserAndDropTheRest) {
  const struct {
    const wchar_t* target;
    const wchar_t* loaded_here;  // what the document is asked to load (a path becomes a file URL)
    bool opened_in_browser;
  } cases[] = {
      {L"file:///C:/Temp/1a2b/pages/Welcome/page.html", L"file:///C:/Temp/1a2b/pages/Welcome/page.html", false},
      {L"C:\\Temp\\1a2b\\pages\\Finish\\Page.html", L"file:///C:/Temp/1a2b/pages/Finish/Page.html", false},
      {L"https://example.com/help.html", L"", true},
      {L"http://example.com/privacy", L"", true},
      {L"file:///C:/Temp/other/evil.html", L"", false},
      {L"file:///C:/Temp/1a2b/../evil.html", L"", false},
      {L"\\\\attacker\\share\\Load.html", L"", false},
      {L"javascript:window.external.closeWindow()", L"", false},
      {L"about:blank", L"", false},
      {L"ftp://example.com/", L"", false},
      {L"", L"", false},
  };
  for (const auto& c : cases) {
    const std::wstring target = c.target;
    methods_.opened.clear();
    EXPECT_EQ(site_->FollowLink(target), S_OK) << "handled, never left to the document";
    EXPECT_EQ(Loaded(), c.loaded_here) << ::testing::PrintToString(target);
    EXPECT_EQ(methods_.opened, c.opened_in_browser ? std::vector<std::wstring>{target} : std::vector<std::wstring>{})
        << ::testing::PrintToString(target);
  }
}

TEST_F(PageTrustTest, TheHyperlinkFrameIsTheSitesServiceAndReadsTheLinksAbsoluteTarget) {
  IServiceProvider* services = site_;
  void* object = reinterpret_cast<void*>(0x1);
  ULONG count = RefCount(static_cast<IDispatch*>(site_));
  ASSERT_EQ(services->QueryService(SID_SHlinkFrame, IID_IHlinkFrame, &object), S_OK);
  EXPECT_EQ(object, static_cast<IHlinkFrame*>(site_));
  EXPECT_EQ(RefCount(static_cast<IDispatch*>(site_)), count + 1);
  static_cast<IHlinkFrame*>(object)->Release();
  for (const auto& [service, iid] : {std::pair{SID_SHlinkFrame, IID_IOleWindow},
                                     std::pair{IID_IOleCommandTarget, IID_IOleCommandTarget},
                                     std::pair{IID_IServiceProvider, IID_IHlinkFrame}}) {
    object = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(services->QueryService(service, iid, &object), E_NOINTERFACE);
    EXPECT_EQ(object, nullptr);
  }
  EXPECT_EQ(RefCount(static_cast<IDispatch*>(site_)), count);

  IHlinkFrame* frame = site_;
  EXPECT_EQ(frame->Navigate(0, nullptr, nullptr, nullptr), E_INVALIDARG);
  const std::wstring page = L"file:///C:/Temp/1a2b/pages/Agreement/page.html";
  for (bool as_moniker : {true, false}) {
    FakeLink inside(page, as_moniker);
    EXPECT_EQ(frame->Navigate(0, nullptr, nullptr, &inside), S_OK);
    EXPECT_EQ(Loaded(), page) << as_moniker;
    FakeLink web(L"https://example.com/help", as_moniker);
    EXPECT_EQ(frame->Navigate(0, nullptr, nullptr, &web), S_OK);
    EXPECT_EQ(Loaded(), L"") << as_moniker;
    EXPECT_EQ(methods_.opened, std::vector<std::wstring>{L"https://example.com/help"}) << as_moniker;
    methods_.opened.clear();
    FakeLink outside(L"file:///C:/Windows/evil.html", as_moniker);
    EXPECT_EQ(frame->Navigate(0, nullptr, nullptr, &outside), S_OK);
    EXPECT_EQ(Loaded(), L"") << as_moniker;
    EXPECT_TRUE(methods_.opened.empty());
    EXPECT_EQ(inside.references, 1u);
  }
}

}  // namespace
}  // namespace stubframework::htmlui
