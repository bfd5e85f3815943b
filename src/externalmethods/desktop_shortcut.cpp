#include "externalmethods/desktop_shortcut.h"

#include <windows.h>
#include <objbase.h>
#include <shlobj.h>
#include <shlwapi.h>
#include <wrl/client.h>

#include "externalmethods/path_methods.h"
#include "workflow/install_thread.h"

namespace stubframework::externalmethods {

namespace {

using Microsoft::WRL::ComPtr;

bool SaveLink(const std::wstring& path, const std::wstring& target) {
  ComPtr<IShellLinkW> link;
  if (FAILED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                reinterpret_cast<void**>(link.GetAddressOf())))) {
    return false;
  }
  if (FAILED(link->SetPath(target.c_str())) || FAILED(link->SetWorkingDirectory(FolderOf(target).c_str()))) {
    return false;
  }
  ComPtr<IPersistFile> file;
  if (FAILED(link.As(&file))) return false;
  return SUCCEEDED(file->Save(path.c_str(), TRUE));
}

}  // namespace

std::wstring DesktopShortcutPath(const std::wstring& name) {
  if (!workflow::IsBareFileName(name)) return std::wstring();
  const std::wstring desktop = DesktopFolder();
  if (desktop.empty()) return std::wstring();
  wchar_t combined[MAX_PATH] = {};
  if (::PathCombineW(combined, desktop.c_str(), name.c_str()) == nullptr) return std::wstring();
  return combined;
}

bool ManageDesktopShortcut(base::Log* log, const std::wstring& name, bool create, const std::wstring& target) {
  const std::wstring path = DesktopShortcutPath(name);
  if (path.empty()) {
    base::LogDebug(log, L"Shortcut %s is not a file name on the desktop; nothing done", name.c_str());
    return false;
  }
  if (!create) return ::DeleteFileW(path.c_str()) != FALSE;
  // Only a stub started with "shortcut=" knows what to link to.
  return !target.empty() && SaveLink(path, target);
}

}  // namespace stubframework::externalmethods
