#include "htmlui/mshtml_client.h"

#include <urlmon.h>

#include <algorithm>
#include <iterator>

#include "htmlui/document_guids.h"
#include "htmlui/html_external.h"
#include "htmlui/page_origin.h"
#include "htmlui/script_methods.h"

namespace stubframework::htmlui {

using Microsoft::WRL::ComPtr;

namespace {
constexpr LCID kReadyStateLcid = LOCALE_SYSTEM_DEFAULT;
}

MSHTMLClient::MSHTMLClient(HWND window, HtmlExternal* bridge) : window_(window), bridge_(bridge) {}

MSHTMLClient::~MSHTMLClient() { TearDown(); }

RECT MSHTMLClient::ClientRect() const {
  RECT rect = {};
  if (window_ != nullptr) ::GetClientRect(window_, &rect);
  return rect;
}

bool MSHTMLClient::CreateDocument() {
  ComPtr<IHTMLDocument2> document;
  HRESULT hr = ::CoCreateInstance(kClsidHtmlDocument, nullptr, CLSCTX_INPROC_SERVER, kIidHtmlDocument2,
                                  reinterpret_cast<void**>(document.GetAddressOf()));
  if (FAILED(hr)) return false;
  return AttachDocument(document.Get());
}

bool MSHTMLClient::AttachDocument(IDispatch* document) {
  TearDown();
  document_ = document;
  if (!AdvisePropertySink()) return false;
  ComPtr<IOleObject> object;
  if (FAILED(document_.As(&object))) return false;
  if (FAILED(object->SetClientSite(static_cast<IOleClientSite*>(this)))) return false;
  RECT rect = ClientRect();
  return SUCCEEDED(
      object->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, static_cast<IOleClientSite*>(this), 0, window_, &rect));
}

bool MSHTMLClient::AdvisePropertySink() {
  ComPtr<IConnectionPointContainer> container;
  ComPtr<IConnectionPoint> point;
  if (FAILED(document_.As(&container))) return false;
  if (FAILED(container->FindConnectionPoint(IID_IPropertyNotifySink, &point))) return false;
  return SUCCEEDED(point->Advise(static_cast<IPropertyNotifySink*>(this), &sink_cookie_));
}

void MSHTMLClient::UnadvisePropertySink() {
  ComPtr<IConnectionPointContainer> container;
  ComPtr<IConnectionPoint> point;
  if (SUCCEEDED(document_.As(&container)) &&
      SUCCEEDED(container->FindConnectionPoint(IID_IPropertyNotifySink, &point))) {
    point->Unadvise(sink_cookie_);
  }
  sink_cookie_ = 0;
}

bool MSHTMLClient::NavigateTo(const wchar_t* url) {
  if (!document_) return false;
  ComPtr<IMoniker> moniker;
  ComPtr<IBindCtx> bind_context;
  ComPtr<IPersistMoniker> persist;
  if (FAILED(::CreateURLMonikerEx(nullptr, url, &moniker, URL_MK_UNIFORM))) return false;
  if (FAILED(::CreateBindCtx(0, &bind_context))) return false;
  if (FAILED(document_.As(&persist))) return false;
  return SUCCEEDED(persist->Load(FALSE, moniker.Get(), bind_context.Get(), 0));
}

HRESULT MSHTMLClient::FollowLink(const std::wstring& url) {
  switch (ClassifyNavigation(url, page_folder_)) {
    case NavigationVerdict::kLoadInPlace:
      NavigateTo(url.c_str());
      break;
    case NavigationVerdict::kOpenInBrowser:
      if (bridge_ != nullptr && bridge_->methods() != nullptr) bridge_->methods()->OpenInBrowser(url);
      break;
    case NavigationVerdict::kRefuse:
      break;
  }
  return S_OK;
}

std::wstring MSHTMLClient::DocumentUrl() const {
  if (!document_) return std::wstring();
  DISPPARAMS none = {};
  VARIANT value;
  ::VariantInit(&value);
  std::wstring url;
  HRESULT hr = document_->Invoke(kDispidDocumentUrl, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none,
                                 &value, nullptr, nullptr);
  if (SUCCEEDED(hr) && V_VT(&value) == VT_BSTR && V_BSTR(&value) != nullptr) {
    url.assign(V_BSTR(&value), ::SysStringLen(V_BSTR(&value)));
  }
  ::VariantClear(&value);
  return url;
}

void MSHTMLClient::Resize() {
  RECT rect = ClientRect();
  if (view_) {
    view_->SetRect(&rect);
    return;
  }
  ComPtr<IOleInPlaceObject> in_place;
  if (document_ && SUCCEEDED(document_.As(&in_place))) in_place->SetObjectRects(&rect, &rect);
}

void MSHTMLClient::TearDown() {
  if (view_) {
    view_->CloseView(0);
    view_.Reset();
  }
  if (sink_cookie_ != 0 && document_) UnadvisePropertySink();
  sink_cookie_ = 0;
  if (document_) {
    ComPtr<IOleObject> object;
    if (SUCCEEDED(document_.As(&object))) object->SetClientSite(nullptr);
    document_.Reset();
  }
}

void MSHTMLClient::Detach() {
  window_ = nullptr;
  bridge_ = nullptr;
}

bool MSHTMLClient::TranslateAcceleratorMessage(MSG* message) {
  ComPtr<IOleInPlaceActiveObject> active;
  if (!document_ || FAILED(document_.As(&active))) return false;
  return active->TranslateAccelerator(message) == S_OK;
}

// IServiceProvider

STDMETHODIMP MSHTMLClient::QueryService(REFGUID service, REFIID riid, void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if (service != SID_SHlinkFrame) return E_NOINTERFACE;
  if (riid == IID_IHlinkFrame) {
    *object = static_cast<IHlinkFrame*>(this);
  } else if (riid == IID_IUnknown) {
    *object = static_cast<IDispatch*>(this);
  } else {
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

// IUnknown

STDMETHODIMP MSHTMLClient::QueryInterface(REFIID riid, void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if (riid == IID_IUnknown || riid == IID_IDispatch) {
    *object = static_cast<IDispatch*>(this);
  } else if (riid == kIidDocHostUiHandler || riid == kIidDocHostUiHandler2) {
    *object = static_cast<IDocHostUIHandler2*>(this);
  } else if (riid == kIidDocHostShowUi) {
    *object = static_cast<IDocHostShowUI*>(this);
  } else if (riid == IID_IOleClientSite) {
    *object = static_cast<IOleClientSite*>(this);
  } else if (riid == IID_IOleDocumentSite) {
    *object = static_cast<IOleDocumentSite*>(this);
  } else if (riid == IID_IOleWindow || riid == IID_IOleInPlaceSite || riid == IID_IOleInPlaceSiteEx) {
    *object = static_cast<IOleInPlaceSiteEx*>(this);
  } else if (riid == IID_IOleInPlaceUIWindow || riid == IID_IOleInPlaceFrame) {
    *object = static_cast<IOleInPlaceFrame*>(this);
  } else if (riid == IID_IPropertyNotifySink) {
    *object = static_cast<IPropertyNotifySink*>(this);
  } else if (riid == IID_IOleCommandTarget) {
    *object = static_cast<IOleCommandTarget*>(this);
  } else if (riid == IID_IServiceProvider) {
    *object = static_cast<IServiceProvider*>(this);
  } else {
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

STDMETHODIMP_(ULONG) MSHTMLClient::AddRef() { return ++ref_count_; }

STDMETHODIMP_(ULONG) MSHTMLClient::Release() {
  ULONG count = --ref_count_;
  if (count == 0) delete this;
  return count;
}

// IDispatch: the only ambient property answered is the download control.

STDMETHODIMP MSHTMLClient::GetTypeInfoCount(UINT*) { return E_NOTIMPL; }
STDMETHODIMP MSHTMLClient::GetTypeInfo(UINT, LCID, ITypeInfo**) { return E_NOTIMPL; }
STDMETHODIMP MSHTMLClient::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) { return E_NOTIMPL; }

STDMETHODIMP MSHTMLClient::Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS*, VARIANT* result, EXCEPINFO*, UINT*) {
  if (id != kDispidAmbientDlControl) return DISP_E_MEMBERNOTFOUND;
  if (result == nullptr) return E_POINTER;
  ::VariantInit(result);
  V_VT(result) = VT_I4;
  V_I4(result) = kDownloadControl;
  return S_OK;
}

// IDocHostUIHandler2

STDMETHODIMP MSHTMLClient::ShowContextMenu(DWORD id, POINT*, IUnknown*, IDispatch*) {
  // S_FALSE lets MSHTML show its own menu; S_OK means "handled": no menu.
  bool shown = std::find(std::begin(kMenusShown), std::end(kMenusShown), id) != std::end(kMenusShown);
  return shown ? S_FALSE : S_OK;
}

STDMETHODIMP MSHTMLClient::GetHostInfo(DOCHOSTUIINFO* info) {
  if (info == nullptr) return E_POINTER;
  info->dwFlags = kHostInfoFlags;
  info->dwDoubleClick = DOCHOSTUIDBLCLK_DEFAULT;
  info->pchHostCss = nullptr;
  info->pchHostNS = nullptr;
  return S_OK;
}

STDMETHODIMP MSHTMLClient::ShowUI(DWORD, IOleInPlaceActiveObject*, IOleCommandTarget*, IOleInPlaceFrame*,
                                  IOleInPlaceUIWindow*) {
  return S_FALSE;
}
STDMETHODIMP MSHTMLClient::HideUI() { return S_OK; }
STDMETHODIMP MSHTMLClient::UpdateUI() { return S_OK; }
STDMETHODIMP MSHTMLClient::EnableModeless(BOOL) { return S_OK; }
STDMETHODIMP MSHTMLClient::OnDocWindowActivate(BOOL) { return E_NOTIMPL; }
STDMETHODIMP MSHTMLClient::OnFrameWindowActivate(BOOL) { return E_NOTIMPL; }
STDMETHODIMP MSHTMLClient::ResizeBorder(LPCRECT, IOleInPlaceUIWindow*, BOOL) { return E_NOTIMPL; }
STDMETHODIMP MSHTMLClient::TranslateAccelerator(LPMSG, const GUID*, DWORD) { return E_NOTIMPL; }

STDMETHODIMP MSHTMLClient::GetOptionKeyPath(LPOLESTR* key, DWORD) {
  if (key != nullptr) *key = nullptr;
  return S_FALSE;
}

STDMETHODIMP MSHTMLClient::GetDropTarget(IDropTarget*, IDropTarget**) { return E_FAIL; }

// The bridge runs programs as administrator: a document from anywhere but the
// extracted bundle (a page reached by script, a frame) gets nothing.
STDMETHODIMP MSHTMLClient::GetExternal(IDispatch** external) {
  if (external == nullptr) return E_POINTER;
  *external = nullptr;
  if (bridge_ == nullptr || !IsBundlePage(DocumentUrl(), page_folder_)) return S_FALSE;
  *external = static_cast<IDispatchEx*>(bridge_);
  (*external)->AddRef();
  return S_OK;
}

STDMETHODIMP MSHTMLClient::TranslateUrl(DWORD, LPWSTR, LPWSTR* translated) {
  if (translated != nullptr) *translated = nullptr;
  return S_FALSE;
}

STDMETHODIMP MSHTMLClient::FilterDataObject(IDataObject*, IDataObject**) { return E_NOTIMPL; }

STDMETHODIMP MSHTMLClient::GetOverrideKeyPath(LPOLESTR* key, DWORD) {
  if (key != nullptr) *key = nullptr;
  return S_FALSE;
}

// IDocHostShowUI: script message boxes are swallowed.

STDMETHODIMP MSHTMLClient::ShowMessage(HWND, LPOLESTR, LPOLESTR, DWORD, LPOLESTR, DWORD, LRESULT*) { return S_OK; }
STDMETHODIMP MSHTMLClient::ShowHelp(HWND, LPOLESTR, UINT, DWORD, POINT, IDispatch*) { return E_NOTIMPL; }

// IOleClientSite

STDMETHODIMP MSHTMLClient::SaveObject() { return E_NOTIMPL; }
STDMETHODIMP MSHTMLClient::GetMoniker(DWORD, DWORD, IMoniker**) { return E_NOTIMPL; }
STDMETHODIMP MSHTMLClient::GetContainer(IOleContainer** container) {
  if (container != nullptr) *container = nullptr;
  return E_NOINTERFACE;
}
STDMETHODIMP MSHTMLClient::ShowObject() { return E_NOTIMPL; }
STDMETHODIMP MSHTMLClient::OnShowWindow(BOOL) { return E_NOTIMPL; }
STDMETHODIMP MSHTMLClient::RequestNewObjectLayout() { return E_NOTIMPL; }

// IOleDocumentSite

STDMETHODIMP MSHTMLClient::ActivateMe(IOleDocumentView* view) {
  if (view == nullptr) {
    ComPtr<IOleDocument> document;
    ComPtr<IOleDocumentView> created;
    if (!document_ || FAILED(document_.As(&document))) return E_FAIL;
    HRESULT hr = document->CreateView(static_cast<IOleInPlaceSiteEx*>(this), nullptr, 0, &created);
    if (FAILED(hr)) return hr;
    return ActivateMe(created.Get());
  }
  view->SetInPlaceSite(static_cast<IOleInPlaceSiteEx*>(this));
  RECT rect = ClientRect();
  view->SetRect(&rect);
  view->UIActivate(TRUE);
  view->Show(TRUE);
  view_ = view;
  return S_OK;
}

// IOleWindow

STDMETHODIMP MSHTMLClient::GetWindow(HWND* window) {
  if (window == nullptr) return E_POINTER;
  *window = window_;
  return S_OK;
}
STDMETHODIMP MSHTMLClient::ContextSensitiveHelp(BOOL) { return E_NOTIMPL; }

// IOleInPlaceSiteEx

STDMETHODIMP MSHTMLClient::CanInPlaceActivate() { return S_OK; }
STDMETHODIMP MSHTMLClient::OnInPlaceActivate() { return S_OK; }
STDMETHODIMP MSHTMLClient::OnUIActivate() { return S_OK; }

STDMETHODIMP MSHTMLClient::GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** document, LPRECT position,
                                            LPRECT clip, LPOLEINPLACEFRAMEINFO info) {
  if (frame == nullptr || document == nullptr || position == nullptr || clip == nullptr || info == nullptr) {
    return E_POINTER;
  }
  *frame = static_cast<IOleInPlaceFrame*>(this);
  AddRef();
  *document = nullptr;
  *position = ClientRect();
  *clip = *position;
  info->fMDIApp = FALSE;
  info->hwndFrame = window_;
  info->haccel = nullptr;
  info->cAccelEntries = 0;
  return S_OK;
}

STDMETHODIMP MSHTMLClient::Scroll(SIZE) { return E_NOTIMPL; }
STDMETHODIMP MSHTMLClient::OnUIDeactivate(BOOL) { return S_OK; }
STDMETHODIMP MSHTMLClient::OnInPlaceDeactivate() { return S_OK; }
STDMETHODIMP MSHTMLClient::DiscardUndoState() { return E_NOTIMPL; }
STDMETHODIMP MSHTMLClient::DeactivateAndUndo() { return E_NOTIMPL; }
STDMETHODIMP MSHTMLClient::OnPosRectChange(LPCRECT) { return E_NOTIMPL; }

STDMETHODIMP MSHTMLClient::OnInPlaceActivateEx(BOOL* no_redraw, DWORD) {
  if (no_redraw != nullptr) *no_redraw = TRUE;
  return S_OK;
}
STDMETHODIMP MSHTMLClient::OnInPlaceDeactivateEx(BOOL) { return S_OK; }
STDMETHODIMP MSHTMLClient::RequestUIActivate() { return S_OK; }

// IOleInPlaceFrame

STDMETHODIMP MSHTMLClient::GetBorder(LPRECT) { return E_NOTIMPL; }
STDMETHODIMP MSHTMLClient::RequestBorderSpace(LPCBORDERWIDTHS) { return E_NOTIMPL; }
STDMETHODIMP MSHTMLClient::SetBorderSpace(LPCBORDERWIDTHS) { return E_NOTIMPL; }
STDMETHODIMP MSHTMLClient::SetActiveObject(IOleInPlaceActiveObject*, LPCOLESTR) { return S_OK; }
STDMETHODIMP MSHTMLClient::InsertMenus(HMENU, LPOLEMENUGROUPWIDTHS) { return E_NOTIMPL; }
STDMETHODIMP MSHTMLClient::SetMenu(HMENU, HOLEMENU, HWND) { return E_NOTIMPL; }
STDMETHODIMP MSHTMLClient::RemoveMenus(HMENU) { return E_NOTIMPL; }
STDMETHODIMP MSHTMLClient::SetStatusText(LPCOLESTR) { return S_OK; }
STDMETHODIMP MSHTMLClient::TranslateAccelerator(LPMSG, WORD) { return E_NOTIMPL; }

// IHlinkFrame

STDMETHODIMP MSHTMLClient::SetBrowseContext(IHlinkBrowseContext*) { return E_NOTIMPL; }
STDMETHODIMP MSHTMLClient::GetBrowseContext(IHlinkBrowseContext**) { return E_NOTIMPL; }
// Every link the document follows comes here (QueryService hands this table
// out as the hyperlink frame); its absolute address decides.
STDMETHODIMP MSHTMLClient::Navigate(DWORD, LPBC bind_context, IBindStatusCallback*, IHlink* link) {
  if (link == nullptr) return E_INVALIDARG;
  std::wstring url;
  ComPtr<IMoniker> target;
  LPWSTR text = nullptr;
  LPWSTR location = nullptr;  // the part after "#": the same document
  if (SUCCEEDED(link->GetMonikerReference(HLINKGETREF_ABSOLUTE, &target, &location)) && target &&
      SUCCEEDED(target->GetDisplayName(bind_context, nullptr, &text)) && text != nullptr) {
    url = text;
  }
  ::CoTaskMemFree(text);
  ::CoTaskMemFree(location);
  text = location = nullptr;
  if (url.empty() && SUCCEEDED(link->GetStringReference(HLINKGETREF_ABSOLUTE, &text, &location)) && text != nullptr) {
    url = text;
  }
  ::CoTaskMemFree(text);
  ::CoTaskMemFree(location);
  return FollowLink(url);
}
STDMETHODIMP MSHTMLClient::OnNavigate(DWORD, IMoniker*, LPCWSTR, LPCWSTR, DWORD) { return E_NOTIMPL; }
STDMETHODIMP MSHTMLClient::UpdateHlink(ULONG, IMoniker*, LPCWSTR, LPCWSTR) { return E_NOTIMPL; }

// IPropertyNotifySink: a completed load gets the default size unless the
// page has sized the window.

STDMETHODIMP MSHTMLClient::OnChanged(DISPID id) {
  if (bridge_ == nullptr || id != kDispidReadyState || !document_) return S_OK;
  DISPPARAMS no_arguments = {};
  VARIANT state;
  ::VariantInit(&state);
  HRESULT hr = document_->Invoke(kDispidReadyState, IID_NULL, kReadyStateLcid, DISPATCH_PROPERTYGET, &no_arguments,
                                 &state, nullptr, nullptr);
  if (SUCCEEDED(hr) && V_VT(&state) == VT_I4 && V_I4(&state) == kReadyStateComplete) bridge_->ApplyDefaultSize();
  ::VariantClear(&state);
  return S_OK;
}

STDMETHODIMP MSHTMLClient::OnRequestEdit(DISPID) { return S_OK; }

// IOleCommandTarget

STDMETHODIMP MSHTMLClient::QueryStatus(const GUID*, ULONG, OLECMD*, OLECMDTEXT*) { return E_NOTIMPL; }

STDMETHODIMP MSHTMLClient::Exec(const GUID* group, DWORD command, DWORD, VARIANT* in, VARIANT*) {
  if (group == nullptr) {
    if (command != kSetTitleCommand) return E_NOTIMPL;
    // The caption follows the page's title.
    if (in != nullptr && V_VT(in) == VT_BSTR && window_ != nullptr) {
      ::SetWindowTextW(window_, V_BSTR(in) != nullptr ? V_BSTR(in) : L"");
    }
    return S_OK;
  }
  if (*group == kCgidDocHostCommandHandler) {
    bool swallowed = std::find(std::begin(kSwallowedHandlerCommands), std::end(kSwallowedHandlerCommands),
                               command) != std::end(kSwallowedHandlerCommands);
    // Anything else (script error reports among them) is MSHTML's to handle.
    return swallowed ? S_OK : OLECMDERR_E_NOTSUPPORTED;
  }
  return OLECMDERR_E_UNKNOWNGROUP;
}

}  // namespace stubframework::htmlui
