#include "htmlui/window_placement.h"

#include <algorithm>

namespace stubframework::htmlui {

namespace {

RECT WorkAreaOf(HMONITOR monitor) {
  MONITORINFO info = {};
  info.cbSize = sizeof(info);
  if (monitor != nullptr && ::GetMonitorInfoW(monitor, &info)) return info.rcWork;
  RECT work = {};
  ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  return work;
}

}  // namespace

RECT PlaceWindowRect(int width, int height, const PlacementInputs& in) {
  int w = width * in.dpi / 96;
  int h = height * in.dpi / 96;
  int framed_w = w + (in.frame.right - in.frame.left);
  int framed_h = h + (in.frame.bottom - in.frame.top);
  const RECT& ref = in.reference;
  int left = std::min<int>(in.work.right, (ref.left + ref.right + framed_w) / 2) - framed_w;
  if (left < in.work.left) left = in.work.left;
  int top = std::min<int>(in.work.bottom, (ref.top + ref.bottom + framed_h) / 2) - framed_h;
  if (top < in.work.top) top = in.work.top;
  return RECT{left, top, left + framed_w, top + framed_h};
}

PlacementInputs PlacementInputsFor(HWND window) {
  PlacementInputs in;
  HDC screen = ::GetDC(nullptr);
  if (screen != nullptr) {
    in.dpi = ::GetDeviceCaps(screen, LOGPIXELSX);
    ::ReleaseDC(nullptr, screen);
  }
  DWORD style = static_cast<DWORD>(::GetWindowLongW(window, GWL_STYLE));
  DWORD ex_style = static_cast<DWORD>(::GetWindowLongW(window, GWL_EXSTYLE));
  ::AdjustWindowRectEx(&in.frame, style, FALSE, ex_style);
  HWND owner = ::GetWindow(window, GW_OWNER);
  if (owner != nullptr && ::GetWindowRect(owner, &in.reference)) {
    in.work = WorkAreaOf(::MonitorFromWindow(owner, MONITOR_DEFAULTTONEAREST));
  } else {
    POINT cursor = {};
    ::GetCursorPos(&cursor);
    in.work = WorkAreaOf(::MonitorFromPoint(cursor, MONITOR_DEFAULTTONEAREST));
    in.reference = in.work;
  }
  return in;
}

}  // namespace stubframework::htmlui
