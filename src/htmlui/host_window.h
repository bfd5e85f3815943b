// The borderless top-level window of class "HTMLUI" whose client area is the
// HTML document, its window procedure and the modal message loop that runs
// while it exists.
#pragma once

#include <windows.h>

#include <string>

namespace stubframework::htmlui {

class HtmlExternal;
class MSHTMLClient;

// A second instance finds the running one by this class.
inline constexpr wchar_t kWindowClassName[] = L"HTMLUI";

// Passed through CreateWindowExW.
struct HostWindowParams {
  const wchar_t* start_page = nullptr;
  HtmlExternal* bridge = nullptr;
  bool* quit = nullptr;  // owned by the creating function
};

// Kept in the window's extra bytes from WM_CREATE to WM_DESTROY.
struct HostWindowData {
  MSHTMLClient* site = nullptr;  // one reference
  HtmlExternal* bridge = nullptr;
  HWND focus = nullptr;  // had the focus when the window was last deactivated
  bool* quit = nullptr;
};

// Registers the class once per process; later calls reuse the atom.
bool RegisterHostWindowClass();

// Creates the window for the start page, runs the message loop until the quit
// flag is set, and destroys the window. False when the window cannot be
// created (no class, no start page, no document, navigation failed).
bool CreateAndRunHostWindow(const std::wstring& start_page, HtmlExternal* bridge);

// Sets the quit flag of an "HTMLUI" window; false for any other window or when
// the flag was already set.
bool RequestClose(HWND window);

LRESULT CALLBACK HostWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

// The part of WM_CREATE that needs no document: allocates the window data with
// a document site for the window and the bridge, stores it in the window and
// gives the bridge the window handle.
HostWindowData* InstallHostWindowData(HWND window, const HostWindowParams& params);
HostWindowData* GetHostWindowData(HWND window);

// Pumps the thread's messages until *quit is set; a WM_QUIT is posted again
// and ends the loop. The document sees every message first.
void RunHostMessageLoop(HWND window, const bool* quit);

}  // namespace stubframework::htmlui
