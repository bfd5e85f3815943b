// Where the host window goes for a client size given in 96-DPI units.
#pragma once

#include <windows.h>

namespace stubframework::htmlui {

// What the rule needs to know about the screen and the window.
struct PlacementInputs {
  int dpi = 96;          // horizontal DPI of the screen; scales both sides
  RECT frame = {};       // the window's frame: AdjustWindowRectEx of an empty rectangle
  RECT reference = {};   // the owner's window rectangle, or the work area without owner
  RECT work = {};        // the work area of the monitor nearest to the reference
};

// Centres the framed window on the reference rectangle, kept inside the work
// area; a window larger than the work area sticks to its left and top edges.
RECT PlaceWindowRect(int width, int height, const PlacementInputs& inputs);

// The inputs for a real window: the screen DPI, its style's frame, and its
// owner or else the monitor under the mouse cursor.
PlacementInputs PlacementInputsFor(HWND window);

}  // namespace stubframework::htmlui
