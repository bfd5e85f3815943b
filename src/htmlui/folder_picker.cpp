#include "htmlui/folder_picker.h"

#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>
#include <wrl/client.h>

namespace stubframework::htmlui {

namespace {

using Microsoft::WRL::ComPtr;

// Folders only, and only ones with a file-system path.
constexpr FILEOPENDIALOGOPTIONS kFolderOptions = FOS_PICKFOLDERS | FOS_FORCEFILESYSTEM;

bool PickWithFileDialog(HWND owner, const std::wstring& initial, std::wstring* chosen, bool* dialog_exists) {
  ComPtr<IFileOpenDialog> dialog;
  *dialog_exists = SUCCEEDED(::CoCreateInstance(CLSID_FileOpenDialog, nullptr, CLSCTX_INPROC_SERVER,
                                                IID_PPV_ARGS(dialog.GetAddressOf())));
  if (!*dialog_exists) return false;
  FILEOPENDIALOGOPTIONS options = 0;
  if (SUCCEEDED(dialog->GetOptions(&options))) dialog->SetOptions(options | kFolderOptions);
  ComPtr<IShellItem> start;
  if (SUCCEEDED(::SHCreateItemFromParsingName(initial.c_str(), nullptr, IID_PPV_ARGS(start.GetAddressOf())))) {
    dialog->SetFolder(start.Get());
  }
  if (FAILED(dialog->Show(owner))) return false;
  ComPtr<IShellItem> result;
  if (FAILED(dialog->GetResult(result.GetAddressOf()))) return false;
  PWSTR name = nullptr;
  if (FAILED(result->GetDisplayName(SIGDN_DESKTOPABSOLUTEPARSING, &name))) return false;
  *chosen = name;
  ::CoTaskMemFree(name);
  return true;
}

bool PickWithFolderBrowser(HWND owner, std::wstring* chosen) {
  BROWSEINFOW info = {};
  info.hwndOwner = owner;
  info.ulFlags = BIF_NEWDIALOGSTYLE;
  PIDLIST_ABSOLUTE list = ::SHBrowseForFolderW(&info);
  if (list == nullptr) return false;
  wchar_t path[MAX_PATH] = {};
  bool read = ::SHGetPathFromIDListW(list, path) != FALSE;
  ::CoTaskMemFree(list);
  if (read) *chosen = path;
  return read;
}

}  // namespace

std::wstring PickFolderDialog(HWND owner, const std::wstring& initial) {
  std::wstring chosen = initial;
  bool dialog_exists = false;
  if (PickWithFileDialog(owner, initial, &chosen, &dialog_exists)) return chosen;
  if (!dialog_exists && PickWithFolderBrowser(owner, &chosen)) return chosen;
  return initial;
}

}  // namespace stubframework::htmlui
