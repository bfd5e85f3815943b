// The real "HTMLUI" window class, and window creation when the start page or
// the HTML document object is missing.
#include <gtest/gtest.h>

#include "htmlui/host_test_support.h"
#include "htmlui/host_window.h"

namespace stubframework::htmlui {
namespace {

using namespace testsupport;

TEST(HostWindowClassTest, RegisteredOnceWithTheDescribedShape) {
  ASSERT_TRUE(RegisterHostWindowClass());
  ASSERT_TRUE(RegisterHostWindowClass()) << "a second registration reuses the atom";
  WNDCLASSEXW wc = {sizeof(wc)};
  ASSERT_TRUE(::GetClassInfoExW(::GetModuleHandleW(nullptr), htmlui::kWindowClassName, &wc));
  EXPECT_EQ(wc.style, 0u);
  EXPECT_EQ(wc.lpfnWndProc, HostWindowProc);
  EXPECT_EQ(wc.cbClsExtra, 0);
  EXPECT_EQ(wc.cbWndExtra, 4) << "one pointer to the window data";
  EXPECT_EQ(wc.hIcon, nullptr);
  EXPECT_EQ(wc.hIconSm, nullptr);
  EXPECT_EQ(wc.hCursor, ::LoadCursorW(nullptr, IDC_ARROW));
  EXPECT_EQ(wc.hbrBackground, nullptr);
  EXPECT_EQ(wc.lpszMenuName, nullptr);
}

TEST(HostWindowClassTest, CreationWithoutParametersOrStartPageFails) {
  Apartment apartment;
  BridgeHolder bridge;
  ASSERT_TRUE(RegisterHostWindowClass());
  HWND window = ::CreateWindowExW(WS_EX_APPWINDOW, htmlui::kWindowClassName, nullptr, WS_POPUP, 0, 0, 0, 0, nullptr,
                                  nullptr, ::GetModuleHandleW(nullptr), nullptr);
  EXPECT_EQ(window, nullptr);
  EXPECT_FALSE(CreateAndRunHostWindow(L"", bridge.get()));
  EXPECT_EQ(::FindWindowW(htmlui::kWindowClassName, nullptr), nullptr);
  EXPECT_EQ(bridge.get()->window(), nullptr);
}

TEST(HostWindowClassTest, WithoutTheDocumentObjectCreationFailsCleanly) {
  Apartment apartment;
  if (SUCCEEDED(HtmlDocumentAvailability())) {
    GTEST_SKIP() << "the HTML document object exists here: the window would open and wait for its page";
  }
  BridgeHolder bridge;
  ULONG references = RefCount(bridge.dispatch());
  EXPECT_FALSE(CreateAndRunHostWindow(L"C:\\bundle\\Load.html", bridge.get()));
  EXPECT_EQ(::FindWindowW(htmlui::kWindowClassName, nullptr), nullptr) << "no window is left behind";
  EXPECT_EQ(bridge.get()->window(), nullptr) << "the bridge was given the window and then 0";
  EXPECT_EQ(RefCount(bridge.dispatch()), references) << "the site released what it held";
}

}  // namespace
}  // namespace stubframework::htmlui
