#include "externalmethods/shell_launch.h"

#include <exdisp.h>
#include <objbase.h>
#include <shellapi.h>
#include <shldisp.h>
#include <shlguid.h>
#include <shlobj.h>
#include <shlwapi.h>
#include <wrl/client.h>

#include "base/bstr.h"
#include "base/variant.h"

namespace stubframework::externalmethods {

namespace {

using Microsoft::WRL::ComPtr;

// ShellExecuteW reports success with a value above 32.
constexpr INT_PTR kShellExecuteSucceeded = 32;

// The desktop's shell view, reached through the shell windows of the
// interactive user's desktop.
HRESULT DesktopShellView(ComPtr<IShellView>* view) {
  ComPtr<IShellWindows> windows;
  HRESULT hr = ::CoCreateInstance(CLSID_ShellWindows, nullptr, CLSCTX_LOCAL_SERVER, IID_IShellWindows,
                                  reinterpret_cast<void**>(windows.GetAddressOf()));
  if (FAILED(hr)) return hr;
  base::UniqueVariant location;
  base::UniqueVariant root;
  long window = 0;
  ComPtr<IDispatch> desktop;
  hr = windows->FindWindowSW(location.Get(), root.Get(), SWC_DESKTOP, &window, SWFO_NEEDDISPATCH,
                             desktop.GetAddressOf());
  if (FAILED(hr)) return hr;
  if (!desktop) return E_FAIL;  // S_FALSE: no desktop window
  ComPtr<IShellBrowser> browser;
  hr = ::IUnknown_QueryService(desktop.Get(), SID_STopLevelBrowser, IID_IShellBrowser,
                               reinterpret_cast<void**>(browser.GetAddressOf()));
  if (FAILED(hr)) return hr;
  return browser->QueryActiveShellView(view->GetAddressOf());
}

// The shell's automation object behind the desktop's view.
HRESULT ShellDispatchOf(IShellView* view, ComPtr<IShellDispatch2>* shell) {
  ComPtr<IDispatch> background;
  HRESULT hr = view->GetItemObject(SVGIO_BACKGROUND, IID_IDispatch, reinterpret_cast<void**>(background.GetAddressOf()));
  if (FAILED(hr)) return hr;
  ComPtr<IShellFolderViewDual> folder_view;
  hr = background->QueryInterface(IID_IShellFolderViewDual, reinterpret_cast<void**>(folder_view.GetAddressOf()));
  if (FAILED(hr)) return hr;
  ComPtr<IDispatch> application;
  hr = folder_view->get_Application(application.GetAddressOf());
  if (FAILED(hr)) return hr;
  if (!application) return E_NOINTERFACE;
  return application->QueryInterface(IID_IShellDispatch2, reinterpret_cast<void**>(shell->GetAddressOf()));
}

// Without the desktop shell: this process starts it, with its own token.
HRESULT ShellExecuteHere(const std::wstring& file, const std::wstring& parameters, HRESULT why) {
  HRESULT com = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  INT_PTR result = reinterpret_cast<INT_PTR>(
      ::ShellExecuteW(nullptr, L"open", file.c_str(), parameters.c_str(), nullptr, SW_SHOWNORMAL));
  if (SUCCEEDED(com)) ::CoUninitialize();
  if (result > kShellExecuteSucceeded) return S_OK;
  return FAILED(why) ? why : E_FAIL;
}

}  // namespace

HRESULT ShellLaunch(const std::wstring& file, const std::wstring& parameters) {
  ComPtr<IShellView> view;
  HRESULT hr = DesktopShellView(&view);
  if (FAILED(hr) || !view) return ShellExecuteHere(file, parameters, hr);

  ComPtr<IShellDispatch2> shell;
  hr = ShellDispatchOf(view.Get(), &shell);
  if (FAILED(hr)) return hr;
  ::AllowSetForegroundWindow(ASFW_ANY);
  base::UniqueBstr target(file);
  base::UniqueVariant args;
  args.SetText(parameters.c_str());
  base::UniqueVariant directory;
  base::UniqueVariant verb;
  base::UniqueVariant show;
  return shell->ShellExecute(target.Get(), *args.Get(), *directory.Get(), *verb.Get(), *show.Get());
}

}  // namespace stubframework::externalmethods
