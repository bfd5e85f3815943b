// MSHTMLClient: the container site of the HTML document object. It creates the
// document, activates it in place in the host window, loads the start page
// through a URL moniker, keeps it sized to the client area, and answers the
// host-customisation interfaces MSHTML asks for. Lives on the UI thread only.
#pragma once

#include <windows.h>
#include <docobj.h>
#include <hlink.h>
#include <mshtmhst.h>
#include <mshtml.h>
#include <mshtmdid.h>
#include <ocidl.h>
#include <wrl/client.h>

#include <string>

namespace stubframework::htmlui {

class HtmlExternal;

inline constexpr DWORD kHostInfoFlags = DOCHOSTUIFLAG_DIALOG | DOCHOSTUIFLAG_DISABLE_HELP_MENU |
                                       DOCHOSTUIFLAG_ENABLE_INPLACE_NAVIGATION | DOCHOSTUIFLAG_THEME |
                                       DOCHOSTUIFLAG_NO3DOUTERBORDER | DOCHOSTUIFLAG_DPI_AWARE;
// The ambient download control: images, videos and background sounds,
// always fetched afresh.
inline constexpr long kDownloadControl = DLCTL_DLIMAGES | DLCTL_VIDEOS | DLCTL_BGSOUNDS | DLCTL_RESYNCHRONIZE;
inline constexpr DISPID kDispidAmbientDlControl = DISPID_AMBIENT_DLCONTROL;
inline constexpr DISPID kDispidReadyState = DISPID_READYSTATE;
inline constexpr DISPID kDispidDocumentUrl = DISPID_IHTMLDOCUMENT2_URL;
inline constexpr long kReadyStateComplete = READYSTATE_COMPLETE;
inline constexpr DWORD kSetTitleCommand = OLECMDID_SETTITLE;
// IDM_REFRESH_TOP of the Windows SDK's mshtmcid.h, which mingw-w64's lacks.
inline constexpr DWORD kIdmRefreshTop = 6041;
// Commands of the command-handler group that are swallowed: printing and a
// reload of the page.
inline constexpr DWORD kSwallowedHandlerCommands[] = {OLECMDID_PRINT, kIdmRefreshTop};
// The scroll-bar menu kinds as MSHTML sends them (the Windows SDK's
// CONTEXT_MENU_VSCROLL and _HSCROLL): mingw-w64's mshtmhst.h lacks
// CONTEXT_MENU_IMGART and numbers both one lower, so its names are not used.
inline constexpr DWORD kContextMenuVScroll = 10;
inline constexpr DWORD kContextMenuHScroll = 11;
// Context menus MSHTML shows itself: control, text selection, scroll bars.
inline constexpr DWORD kMenusShown[] = {CONTEXT_MENU_CONTROL, CONTEXT_MENU_TEXTSELECT, kContextMenuVScroll,
                                        kContextMenuHScroll};

class MSHTMLClient final : public IDispatch,
                           public IServiceProvider,
                           public IDocHostUIHandler2,
                           public IDocHostShowUI,
                           public IOleClientSite,
                           public IOleDocumentSite,
                           public IOleInPlaceSiteEx,
                           public IOleInPlaceFrame,
                           public IHlinkFrame,
                           public IPropertyNotifySink,
                           public IOleCommandTarget {
 public:
  // Count 1, no document. bridge may be null and is not owned.
  MSHTMLClient(HWND window, HtmlExternal* bridge);
  MSHTMLClient(const MSHTMLClient&) = delete;
  MSHTMLClient& operator=(const MSHTMLClient&) = delete;

  // Creates the HTML document object and attaches it.
  bool CreateDocument();
  // Attaches a document (any object with the document's interfaces; the
  // created one is an IHTMLDocument2): property notifications, client site,
  // in-place activation.
  bool AttachDocument(IDispatch* document);
  // The folder of the stub's own pages (PageFolderOf the start page): only a
  // document loaded from below it gets the bridge, and links lead nowhere
  // else in this window.
  void SetPageFolder(const std::wstring& folder) { page_folder_ = folder; }
  // Loads a path or URL into the document through a URL moniker.
  bool NavigateTo(const wchar_t* url);
  // A link followed from the page (ClassifyNavigation): a bundle page loads
  // here, a web address opens in the default browser through the bridge's
  // method table, anything else is dropped. S_OK in every case: the link is
  // handled, and the document must not follow it itself.
  HRESULT FollowLink(const std::wstring& url);
  // The document's address (its URL property); empty without one.
  std::wstring DocumentUrl() const;
  // Fits the document to the window's client area.
  void Resize();
  // Closes the view, stops notifications, detaches and releases the document.
  void TearDown();
  // Forgets the window and the bridge (the window is going away).
  void Detach();
  // Offers a message to the document's accelerators; true when it took it.
  bool TranslateAcceleratorMessage(MSG* message);

  HWND window() const { return window_; }
  bool has_document() const { return document_ != nullptr; }

  // IUnknown, shared by every table.
  STDMETHODIMP QueryInterface(REFIID riid, void** object) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;

  // IServiceProvider: the hyperlink frame, so that links come to FollowLink.
  STDMETHODIMP QueryService(REFGUID service, REFIID riid, void** object) override;

  // IDispatch: ambient properties.
  STDMETHODIMP GetTypeInfoCount(UINT* count) override;
  STDMETHODIMP GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override;
  STDMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) override;
  STDMETHODIMP Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                      EXCEPINFO* exception, UINT* arg_error) override;

  // IDocHostUIHandler2
  STDMETHODIMP ShowContextMenu(DWORD id, POINT* point, IUnknown* target, IDispatch* object) override;
  STDMETHODIMP GetHostInfo(DOCHOSTUIINFO* info) override;
  STDMETHODIMP ShowUI(DWORD id, IOleInPlaceActiveObject* active, IOleCommandTarget* target,
                      IOleInPlaceFrame* frame, IOleInPlaceUIWindow* document) override;
  STDMETHODIMP HideUI() override;
  STDMETHODIMP UpdateUI() override;
  STDMETHODIMP EnableModeless(BOOL enable) override;
  STDMETHODIMP OnDocWindowActivate(BOOL activate) override;
  STDMETHODIMP OnFrameWindowActivate(BOOL activate) override;
  STDMETHODIMP ResizeBorder(LPCRECT border, IOleInPlaceUIWindow* window, BOOL frame_window) override;
  STDMETHODIMP TranslateAccelerator(LPMSG message, const GUID* group, DWORD command) override;
  STDMETHODIMP GetOptionKeyPath(LPOLESTR* key, DWORD reserved) override;
  STDMETHODIMP GetDropTarget(IDropTarget* target, IDropTarget** replacement) override;
  STDMETHODIMP GetExternal(IDispatch** external) override;
  STDMETHODIMP TranslateUrl(DWORD reserved, LPWSTR url, LPWSTR* translated) override;
  STDMETHODIMP FilterDataObject(IDataObject* object, IDataObject** filtered) override;
  STDMETHODIMP GetOverrideKeyPath(LPOLESTR* key, DWORD reserved) override;

  // IDocHostShowUI
  STDMETHODIMP ShowMessage(HWND window, LPOLESTR text, LPOLESTR caption, DWORD type, LPOLESTR help_file,
                           DWORD help_context, LRESULT* result) override;
  STDMETHODIMP ShowHelp(HWND window, LPOLESTR help_file, UINT command, DWORD data, POINT point,
                        IDispatch* object) override;

  // IOleClientSite
  STDMETHODIMP SaveObject() override;
  STDMETHODIMP GetMoniker(DWORD assign, DWORD which, IMoniker** moniker) override;
  STDMETHODIMP GetContainer(IOleContainer** container) override;
  STDMETHODIMP ShowObject() override;
  STDMETHODIMP OnShowWindow(BOOL show) override;
  STDMETHODIMP RequestNewObjectLayout() override;

  // IOleDocumentSite
  STDMETHODIMP ActivateMe(IOleDocumentView* view) override;

  // IOleWindow (shared by the in-place site and the frame)
  STDMETHODIMP GetWindow(HWND* window) override;
  STDMETHODIMP ContextSensitiveHelp(BOOL enter) override;

  // IOleInPlaceSiteEx
  STDMETHODIMP CanInPlaceActivate() override;
  STDMETHODIMP OnInPlaceActivate() override;
  STDMETHODIMP OnUIActivate() override;
  STDMETHODIMP GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** document, LPRECT position,
                                LPRECT clip, LPOLEINPLACEFRAMEINFO info) override;
  STDMETHODIMP Scroll(SIZE extent) override;
  STDMETHODIMP OnUIDeactivate(BOOL undoable) override;
  STDMETHODIMP OnInPlaceDeactivate() override;
  STDMETHODIMP DiscardUndoState() override;
  STDMETHODIMP DeactivateAndUndo() override;
  STDMETHODIMP OnPosRectChange(LPCRECT position) override;
  STDMETHODIMP OnInPlaceActivateEx(BOOL* no_redraw, DWORD flags) override;
  STDMETHODIMP OnInPlaceDeactivateEx(BOOL no_redraw) override;
  STDMETHODIMP RequestUIActivate() override;

  // IOleInPlaceFrame (with IOleInPlaceUIWindow)
  STDMETHODIMP GetBorder(LPRECT border) override;
  STDMETHODIMP RequestBorderSpace(LPCBORDERWIDTHS widths) override;
  STDMETHODIMP SetBorderSpace(LPCBORDERWIDTHS widths) override;
  STDMETHODIMP SetActiveObject(IOleInPlaceActiveObject* active, LPCOLESTR name) override;
  STDMETHODIMP InsertMenus(HMENU menu, LPOLEMENUGROUPWIDTHS widths) override;
  STDMETHODIMP SetMenu(HMENU menu, HOLEMENU ole_menu, HWND active_object) override;
  STDMETHODIMP RemoveMenus(HMENU menu) override;
  STDMETHODIMP SetStatusText(LPCOLESTR text) override;
  STDMETHODIMP TranslateAccelerator(LPMSG message, WORD id) override;

  // IHlinkFrame: handed out as the hyperlink-frame service only.
  STDMETHODIMP SetBrowseContext(IHlinkBrowseContext* context) override;
  STDMETHODIMP GetBrowseContext(IHlinkBrowseContext** context) override;
  STDMETHODIMP Navigate(DWORD flags, LPBC bind_context, IBindStatusCallback* callback, IHlink* link) override;
  STDMETHODIMP OnNavigate(DWORD flags, IMoniker* target, LPCWSTR location, LPCWSTR friendly_name,
                          DWORD reserved) override;
  STDMETHODIMP UpdateHlink(ULONG id, IMoniker* target, LPCWSTR location, LPCWSTR friendly_name) override;

  // IPropertyNotifySink
  STDMETHODIMP OnChanged(DISPID id) override;
  STDMETHODIMP OnRequestEdit(DISPID id) override;

  // IOleCommandTarget
  STDMETHODIMP QueryStatus(const GUID* group, ULONG count, OLECMD* commands, OLECMDTEXT* text) override;
  STDMETHODIMP Exec(const GUID* group, DWORD command, DWORD options, VARIANT* in, VARIANT* out) override;

 private:
  ~MSHTMLClient();
  RECT ClientRect() const;
  bool AdvisePropertySink();
  void UnadvisePropertySink();

  ULONG ref_count_ = 1;
  HWND window_;
  Microsoft::WRL::ComPtr<IDispatch> document_;
  Microsoft::WRL::ComPtr<IOleDocumentView> view_;
  HtmlExternal* bridge_;
  DWORD sink_cookie_ = 0;
  std::wstring page_folder_;
};

}  // namespace stubframework::htmlui
