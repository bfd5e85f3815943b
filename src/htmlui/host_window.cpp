#include "htmlui/host_window.h"

#include "htmlui/html_external.h"
#include "htmlui/mshtml_client.h"
#include "htmlui/page_origin.h"

namespace stubframework::htmlui {

namespace {

ATOM& ClassAtom() {
  static ATOM atom = 0;
  return atom;
}

// Tears the site down and frees the window data.
void ReleaseHostWindowData(HWND window) {
  HostWindowData* data = GetHostWindowData(window);
  if (data == nullptr) return;
  if (data->site != nullptr) {
    data->site->TearDown();
    data->site->Detach();
    data->site->Release();
  }
  if (data->bridge != nullptr) data->bridge->SetWindow(nullptr);
  ::SetWindowLongPtrW(window, 0, 0);
  delete data;
}

LRESULT OnCreate(HWND window, const CREATESTRUCTW* create) {
  const auto* params = static_cast<const HostWindowParams*>(create->lpCreateParams);
  if (params == nullptr || params->start_page == nullptr || params->start_page[0] == L'\0') return -1;
  HostWindowData* data = InstallHostWindowData(window, *params);
  data->site->SetPageFolder(PageFolderOf(params->start_page));
  if (data->site->CreateDocument() && data->site->NavigateTo(params->start_page)) return 0;
  // Not every system sends WM_DESTROY to a window whose creation failed, so
  // the data goes now; a later WM_DESTROY finds none.
  ReleaseHostWindowData(window);
  return -1;
}

}  // namespace

bool RegisterHostWindowClass() {
  if (ClassAtom() != 0) return true;
  WNDCLASSEXW wc = {sizeof(wc)};
  wc.style = 0;
  wc.lpfnWndProc = HostWindowProc;
  wc.cbClsExtra = 0;
  wc.cbWndExtra = sizeof(HostWindowData*);
  wc.hInstance = ::GetModuleHandleW(nullptr);
  wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  wc.lpszClassName = kWindowClassName;
  ClassAtom() = ::RegisterClassExW(&wc);
  return ClassAtom() != 0;
}

HostWindowData* InstallHostWindowData(HWND window, const HostWindowParams& params) {
  auto* data = new HostWindowData;
  data->site = new MSHTMLClient(window, params.bridge);
  data->bridge = params.bridge;
  data->quit = params.quit;
  ::SetWindowLongPtrW(window, 0, reinterpret_cast<LONG_PTR>(data));
  if (params.bridge != nullptr) params.bridge->SetWindow(window);
  return data;
}

HostWindowData* GetHostWindowData(HWND window) {
  return reinterpret_cast<HostWindowData*>(::GetWindowLongPtrW(window, 0));
}

LRESULT CALLBACK HostWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_CREATE:
      return OnCreate(window, reinterpret_cast<const CREATESTRUCTW*>(lparam));
    case WM_DESTROY:
      ReleaseHostWindowData(window);
      return 0;
    case WM_SIZE:
      if (HostWindowData* data = GetHostWindowData(window); data != nullptr && data->site != nullptr) {
        data->site->Resize();
      }
      return 0;
    case WM_ACTIVATE:
      if (wparam == WA_INACTIVE) {
        if (HostWindowData* data = GetHostWindowData(window)) {
          HWND focus = ::GetFocus();
          data->focus = focus == window ? nullptr : focus;
        }
      }
      break;
    case WM_SETFOCUS:
      if (HostWindowData* data = GetHostWindowData(window); data != nullptr && data->focus != nullptr) {
        ::SetFocus(data->focus);
        return 0;
      }
      break;
    case WM_CLOSE:
      // The loop ends and the creator destroys the window, not DefWindowProc.
      if (HostWindowData* data = GetHostWindowData(window); data != nullptr && data->quit != nullptr) {
        *data->quit = true;
        return 0;
      }
      break;
    default:
      break;
  }
  return ::DefWindowProcW(window, message, wparam, lparam);
}

void RunHostMessageLoop(HWND window, const bool* quit) {
  MSG message;
  while (!*quit) {
    if (!::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (*quit) break;
      ::WaitMessage();
      continue;
    }
    if (message.message == WM_QUIT) {
      ::PostQuitMessage(static_cast<int>(message.wParam));
      break;
    }
    HostWindowData* data = ::IsWindow(window) ? GetHostWindowData(window) : nullptr;
    if (data != nullptr && data->site != nullptr && data->site->TranslateAcceleratorMessage(&message)) continue;
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
}

bool RequestClose(HWND window) {
  if (window == nullptr) return false;
  // The class this module registered under the host window's name: its
  // extra bytes are ours to read. No such class, or another one: left alone.
  WNDCLASSEXW ours = {sizeof(ours)};
  const ATOM atom = static_cast<ATOM>(::GetClassInfoExW(::GetModuleHandleW(nullptr), kWindowClassName, &ours));
  if (atom == 0 || ::GetClassWord(window, GCW_ATOM) != atom) return false;
  HostWindowData* data = GetHostWindowData(window);
  if (data == nullptr || data->quit == nullptr || *data->quit) return false;
  *data->quit = true;
  return true;
}

bool CreateAndRunHostWindow(const std::wstring& start_page, HtmlExternal* bridge) {
  if (!RegisterHostWindowClass()) return false;
  bool quit = false;
  HostWindowParams params{start_page.c_str(), bridge, &quit};
  HWND window = ::CreateWindowExW(WS_EX_APPWINDOW, MAKEINTATOM(ClassAtom()), nullptr, WS_POPUP | WS_VISIBLE, 0, 0, 0,
                                  0, nullptr, nullptr, ::GetModuleHandleW(nullptr), &params);
  if (window == nullptr) return false;
  ::ShowWindow(window, SW_SHOW);
  RunHostMessageLoop(window, &quit);
  ::DestroyWindow(window);
  return true;
}

}  // namespace stubframework::htmlui
