// A stand-in for the HTML document object: answers the interfaces the site
// uses and records every call, so that the attach, activate, load and
// tear-down sequences can be checked where the real engine is missing.
#pragma once

#include <windows.h>
#include <docobj.h>
#include <ocidl.h>
#include <olectl.h>
#include <oleidl.h>
#include <urlmon.h>

#include <string>
#include <vector>

namespace testsupport {

class FakeDocument;

class FakeConnectionPoint : public IConnectionPoint {
 public:
  explicit FakeConnectionPoint(FakeDocument* owner) : owner_(owner) {}
  STDMETHODIMP QueryInterface(REFIID riid, void** object) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;
  STDMETHODIMP GetConnectionInterface(IID*) override { return E_NOTIMPL; }
  STDMETHODIMP GetConnectionPointContainer(IConnectionPointContainer**) override { return E_NOTIMPL; }
  STDMETHODIMP Advise(IUnknown* sink, DWORD* cookie) override;
  STDMETHODIMP Unadvise(DWORD cookie) override;
  STDMETHODIMP EnumConnections(IEnumConnections**) override { return E_NOTIMPL; }

 private:
  FakeDocument* owner_;
};

class FakeDocument : public IDispatch,
                     public IConnectionPointContainer,
                     public IOleObject,
                     public IOleDocument,
                     public IOleDocumentView,
                     public IPersistMoniker,
                     public IOleInPlaceObject,
                     public IOleInPlaceActiveObject {
 public:
  std::vector<std::string> calls;
  long ready_state = 1;
  bool has_connection_point = true;
  HRESULT set_client_site_result = S_OK;
  HRESULT do_verb_result = S_OK;
  HRESULT load_result = S_OK;
  IUnknown* sink = nullptr;
  IOleClientSite* client_site = nullptr;
  IOleInPlaceSite* in_place_site = nullptr;
  HWND verb_window = nullptr;
  std::wstring loaded_url;
  std::wstring url;  // the URL property; none when empty
  LCID ready_state_lcid = 0;
  ULONG references = 1;

  std::string Calls() const {
    std::string all;
    for (const std::string& call : calls) all += call + ";";
    return all;
  }

  // IUnknown
  STDMETHODIMP QueryInterface(REFIID riid, void** object) override {
    *object = nullptr;
    if (riid == IID_IUnknown || riid == IID_IDispatch) *object = static_cast<IDispatch*>(this);
    else if (riid == IID_IConnectionPointContainer) *object = static_cast<IConnectionPointContainer*>(this);
    else if (riid == IID_IOleObject) *object = static_cast<IOleObject*>(this);
    else if (riid == IID_IOleDocument) *object = static_cast<IOleDocument*>(this);
    else if (riid == IID_IOleDocumentView) *object = static_cast<IOleDocumentView*>(this);
    else if (riid == IID_IPersistMoniker) *object = static_cast<IPersistMoniker*>(this);
    else if (riid == IID_IOleInPlaceObject) *object = static_cast<IOleInPlaceObject*>(this);
    else if (riid == IID_IOleInPlaceActiveObject) *object = static_cast<IOleInPlaceActiveObject*>(this);
    else return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++references; }
  STDMETHODIMP_(ULONG) Release() override { return --references; }  // lives on the test's stack

  // IDispatch: the ready state.
  STDMETHODIMP GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  STDMETHODIMP Invoke(DISPID id, REFIID, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO*,
                      UINT*) override {
    calls.push_back("Invoke(" + std::to_string(id) + "," + std::to_string(flags) + "," +
                    std::to_string(params != nullptr ? params->cArgs : 99) + ")");
    if (id == 1025 && !url.empty() && result != nullptr) {
      V_VT(result) = VT_BSTR;
      V_BSTR(result) = ::SysAllocStringLen(url.data(), static_cast<UINT>(url.size()));
      return S_OK;
    }
    ready_state_lcid = lcid;
    if (id != -525 || result == nullptr) return DISP_E_MEMBERNOTFOUND;
    V_VT(result) = VT_I4;
    V_I4(result) = ready_state;
    return S_OK;
  }

  // IConnectionPointContainer
  STDMETHODIMP EnumConnectionPoints(IEnumConnectionPoints**) override { return E_NOTIMPL; }
  STDMETHODIMP FindConnectionPoint(REFIID riid, IConnectionPoint** point) override {
    *point = nullptr;
    if (!has_connection_point || riid != IID_IPropertyNotifySink) return CONNECT_E_NOCONNECTION;
    *point = &point_;
    AddRef();
    return S_OK;
  }

  // IOleObject
  STDMETHODIMP SetClientSite(IOleClientSite* site) override {
    calls.push_back(site != nullptr ? "SetClientSite(site)" : "SetClientSite(null)");
    if (FAILED(set_client_site_result)) return set_client_site_result;
    client_site = site;
    return S_OK;
  }
  STDMETHODIMP GetClientSite(IOleClientSite**) override { return E_NOTIMPL; }
  STDMETHODIMP SetHostNames(LPCOLESTR, LPCOLESTR) override { return E_NOTIMPL; }
  STDMETHODIMP Close(DWORD) override { return E_NOTIMPL; }
  STDMETHODIMP SetMoniker(DWORD, IMoniker*) override { return E_NOTIMPL; }
  STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker**) override { return E_NOTIMPL; }
  STDMETHODIMP InitFromData(IDataObject*, BOOL, DWORD) override { return E_NOTIMPL; }
  STDMETHODIMP GetClipboardData(DWORD, IDataObject**) override { return E_NOTIMPL; }
  STDMETHODIMP DoVerb(LONG verb, LPMSG message, IOleClientSite* site, LONG index, HWND parent,
                      LPCRECT rect) override {
    calls.push_back("DoVerb(" + std::to_string(verb) + "," + (message == nullptr ? "null" : "msg") + "," +
                    (site == client_site ? "site" : "other") + "," + std::to_string(index) + "," +
                    std::to_string(rect->right - rect->left) + "x" + std::to_string(rect->bottom - rect->top) + ")");
    verb_window = parent;
    return do_verb_result;
  }
  STDMETHODIMP EnumVerbs(IEnumOLEVERB**) override { return E_NOTIMPL; }
  STDMETHODIMP Update() override { return E_NOTIMPL; }
  STDMETHODIMP IsUpToDate() override { return E_NOTIMPL; }
  STDMETHODIMP GetUserClassID(CLSID*) override { return E_NOTIMPL; }
  STDMETHODIMP GetUserType(DWORD, LPOLESTR*) override { return E_NOTIMPL; }
  STDMETHODIMP SetExtent(DWORD, SIZEL*) override { return E_NOTIMPL; }
  STDMETHODIMP GetExtent(DWORD, SIZEL*) override { return E_NOTIMPL; }
  STDMETHODIMP Advise(IAdviseSink*, DWORD*) override { return E_NOTIMPL; }
  STDMETHODIMP Unadvise(DWORD) override { return E_NOTIMPL; }
  STDMETHODIMP EnumAdvise(IEnumSTATDATA**) override { return E_NOTIMPL; }
  STDMETHODIMP GetMiscStatus(DWORD, DWORD*) override { return E_NOTIMPL; }
  STDMETHODIMP SetColorScheme(LOGPALETTE*) override { return E_NOTIMPL; }

  // IOleDocument: the document is its own view.
  STDMETHODIMP CreateView(IOleInPlaceSite* site, IStream* stream, DWORD reserved, IOleDocumentView** view) override {
    calls.push_back(std::string("CreateView(") + (site != nullptr ? "site" : "null") + "," +
                    (stream == nullptr ? "null" : "stream") + "," + std::to_string(reserved) + ")");
    *view = static_cast<IOleDocumentView*>(this);
    AddRef();
    return S_OK;
  }
  STDMETHODIMP GetDocMiscStatus(DWORD*) override { return E_NOTIMPL; }
  STDMETHODIMP EnumViews(IEnumOleDocumentViews**, IOleDocumentView**) override { return E_NOTIMPL; }

  // IOleDocumentView
  STDMETHODIMP SetInPlaceSite(IOleInPlaceSite* site) override {
    calls.push_back("SetInPlaceSite");
    in_place_site = site;
    return S_OK;
  }
  STDMETHODIMP GetInPlaceSite(IOleInPlaceSite**) override { return E_NOTIMPL; }
  STDMETHODIMP GetDocument(IUnknown**) override { return E_NOTIMPL; }
  STDMETHODIMP SetRect(LPRECT rect) override {
    calls.push_back("SetRect(" + std::to_string(rect->right - rect->left) + "x" +
                    std::to_string(rect->bottom - rect->top) + ")");
    return S_OK;
  }
  STDMETHODIMP GetRect(LPRECT) override { return E_NOTIMPL; }
  STDMETHODIMP SetRectComplex(LPRECT, LPRECT, LPRECT, LPRECT) override { return E_NOTIMPL; }
  STDMETHODIMP Show(BOOL show) override {
    calls.push_back("Show(" + std::to_string(show) + ")");
    return S_OK;
  }
  STDMETHODIMP UIActivate(BOOL activate) override {
    calls.push_back("UIActivate(" + std::to_string(activate) + ")");
    return S_OK;
  }
  STDMETHODIMP Open() override { return E_NOTIMPL; }
  STDMETHODIMP CloseView(DWORD reserved) override {
    calls.push_back("CloseView(" + std::to_string(reserved) + ")");
    return S_OK;
  }
  STDMETHODIMP SaveViewState(LPSTREAM) override { return E_NOTIMPL; }
  STDMETHODIMP ApplyViewState(LPSTREAM) override { return E_NOTIMPL; }
  STDMETHODIMP Clone(IOleInPlaceSite*, IOleDocumentView**) override { return E_NOTIMPL; }

  // IPersistMoniker
  STDMETHODIMP GetClassID(CLSID*) override { return E_NOTIMPL; }
  STDMETHODIMP IsDirty() override { return E_NOTIMPL; }
  STDMETHODIMP Load(BOOL fully_available, IMoniker* moniker, LPBC bind_context, DWORD mode) override {
    calls.push_back("Load(" + std::to_string(fully_available) + "," + (bind_context != nullptr ? "bc" : "null") + "," +
                    std::to_string(mode) + ")");
    LPOLESTR name = nullptr;
    if (moniker != nullptr && SUCCEEDED(moniker->GetDisplayName(bind_context, nullptr, &name))) {
      loaded_url = name;
      ::CoTaskMemFree(name);
    }
    return load_result;
  }
  STDMETHODIMP Save(IMoniker*, LPBC, BOOL) override { return E_NOTIMPL; }
  STDMETHODIMP SaveCompleted(IMoniker*, LPBC) override { return E_NOTIMPL; }
  STDMETHODIMP GetCurMoniker(IMoniker**) override { return E_NOTIMPL; }

  // IOleWindow, IOleInPlaceObject, IOleInPlaceActiveObject
  STDMETHODIMP GetWindow(HWND*) override { return E_NOTIMPL; }
  STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
  STDMETHODIMP InPlaceDeactivate() override { return E_NOTIMPL; }
  STDMETHODIMP UIDeactivate() override { return E_NOTIMPL; }
  STDMETHODIMP SetObjectRects(LPCRECT position, LPCRECT clip) override {
    calls.push_back("SetObjectRects(" + std::to_string(position->right - position->left) + "x" +
                    std::to_string(position->bottom - position->top) + (::EqualRect(position, clip) ? ",same)" : ",other)"));
    return S_OK;
  }
  STDMETHODIMP ReactivateAndUndo() override { return E_NOTIMPL; }
  STDMETHODIMP TranslateAccelerator(LPMSG message) override {
    // The document takes Tab for its own focus handling.
    return message->message == WM_KEYDOWN && message->wParam == VK_TAB ? S_OK : S_FALSE;
  }
  STDMETHODIMP OnFrameWindowActivate(BOOL) override { return E_NOTIMPL; }
  STDMETHODIMP OnDocWindowActivate(BOOL) override { return E_NOTIMPL; }
  STDMETHODIMP ResizeBorder(LPCRECT, IOleInPlaceUIWindow*, BOOL) override { return E_NOTIMPL; }
  STDMETHODIMP EnableModeless(BOOL) override { return E_NOTIMPL; }

 private:
  friend class FakeConnectionPoint;
  FakeConnectionPoint point_{this};
};

inline STDMETHODIMP FakeConnectionPoint::QueryInterface(REFIID riid, void** object) {
  *object = nullptr;
  if (riid != IID_IUnknown && riid != IID_IConnectionPoint) return E_NOINTERFACE;
  *object = this;
  AddRef();
  return S_OK;
}
inline STDMETHODIMP_(ULONG) FakeConnectionPoint::AddRef() { return owner_->AddRef(); }
inline STDMETHODIMP_(ULONG) FakeConnectionPoint::Release() { return owner_->Release(); }
inline STDMETHODIMP FakeConnectionPoint::Advise(IUnknown* sink, DWORD* cookie) {
  owner_->calls.push_back("Advise");
  owner_->sink = sink;
  sink->AddRef();
  *cookie = 42;
  return S_OK;
}
inline STDMETHODIMP FakeConnectionPoint::Unadvise(DWORD cookie) {
  owner_->calls.push_back("Unadvise(" + std::to_string(cookie) + ")");
  if (owner_->sink != nullptr) owner_->sink->Release();
  owner_->sink = nullptr;
  return S_OK;
}

}  // namespace testsupport
