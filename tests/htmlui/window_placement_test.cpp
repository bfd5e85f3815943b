// The placement rule of the host window, as a pure function.
#include <gtest/gtest.h>

#include "htmlui/window_placement.h"

namespace stubframework::htmlui {
namespace {

PlacementInputs Screen(int dpi, RECT work) {
  PlacementInputs in;
  in.dpi = dpi;
  in.work = work;
  in.reference = work;
  return in;
}

TEST(WindowPlacementTest, ScalesByTheHorizontalDpi) {
  RECT r = PlaceWindowRect(600, 400, Screen(144, {0, 0, 1920, 1040}));
  EXPECT_EQ(r.right - r.left, 900);
  EXPECT_EQ(r.bottom - r.top, 600);
  r = PlaceWindowRect(400, 200, Screen(96, {0, 0, 1920, 1040}));
  EXPECT_EQ(r.right - r.left, 400);
  EXPECT_EQ(r.bottom - r.top, 200);
}

TEST(WindowPlacementTest, CentresOnTheWorkAreaWithoutOwner) {
  RECT r = PlaceWindowRect(400, 200, Screen(96, {0, 0, 1920, 1040}));
  EXPECT_EQ(r.left, 760);
  EXPECT_EQ(r.top, 420);
  // A second monitor to the right.
  r = PlaceWindowRect(400, 200, Screen(96, {1920, 0, 3200, 1024}));
  EXPECT_EQ(r.left, 1920 + (1280 - 400) / 2);
  EXPECT_EQ(r.top, (1024 - 200) / 2);
}

TEST(WindowPlacementTest, TheFrameIsAddedAroundTheClientArea) {
  PlacementInputs in = Screen(144, {0, 0, 1920, 1040});
  in.frame = {-8, -31, 8, 8};
  RECT r = PlaceWindowRect(600, 400, in);
  EXPECT_EQ(r.right - r.left, 900 + 16);
  EXPECT_EQ(r.bottom - r.top, 600 + 39);
}

TEST(WindowPlacementTest, AWindowLargerThanTheWorkAreaSticksToItsLeftAndTop) {
  RECT r = PlaceWindowRect(1200, 900, Screen(144, {100, 50, 1380, 1010}));
  EXPECT_EQ(r.left, 100);
  EXPECT_EQ(r.top, 50);
  EXPECT_EQ(r.right, 100 + 1800);
  EXPECT_EQ(r.bottom, 50 + 1350);
}

TEST(WindowPlacementTest, CentresOnTheOwnerButStaysInsideTheWorkArea) {
  PlacementInputs in = Screen(96, {0, 0, 1920, 1040});
  in.reference = {200, 100, 1000, 700};
  RECT r = PlaceWindowRect(400, 200, in);
  EXPECT_EQ(r.left, (200 + 1000 + 400) / 2 - 400);
  EXPECT_EQ(r.top, (100 + 700 + 200) / 2 - 200);
  // An owner near the right edge: pushed back inside.
  in.reference = {1700, 900, 1920, 1040};
  r = PlaceWindowRect(400, 200, in);
  EXPECT_EQ(r.right, 1920);
  EXPECT_EQ(r.bottom, 1040);
  // An owner off the left edge: held at the work area's left.
  in.reference = {-600, 0, -100, 300};
  r = PlaceWindowRect(400, 200, in);
  EXPECT_EQ(r.left, 0);
}

}  // namespace
}  // namespace stubframework::htmlui
