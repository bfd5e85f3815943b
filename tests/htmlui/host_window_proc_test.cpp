// The window procedure and the message loop. This program registers class
// "HTMLUI" itself with a WM_CREATE that installs the window data without a
// document (the HTML engine is not needed for any of this) and hands every
// other message to the host window procedure.
#include <gtest/gtest.h>

#include "htmlui/host_test_support.h"
#include "htmlui/host_window.h"
#include "htmlui/mshtml_client.h"

namespace stubframework::htmlui {
namespace {

using namespace testsupport;

LRESULT CALLBACK DocumentlessProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_CREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lparam);
    if (create->lpCreateParams == nullptr) return -1;
    InstallHostWindowData(window, *static_cast<const HostWindowParams*>(create->lpCreateParams));
    return 0;
  }
  return HostWindowProc(window, message, wparam, lparam);
}

class HostWindowProcTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    WNDCLASSEXW wc = {sizeof(wc)};
    wc.lpfnWndProc = DocumentlessProc;
    wc.cbWndExtra = sizeof(void*);
    wc.hInstance = ::GetModuleHandleW(nullptr);
    wc.lpszClassName = htmlui::kWindowClassName;
    ASSERT_NE(::RegisterClassExW(&wc), 0);
  }
  void SetUp() override {
    params_ = {L"C:\\bundle\\Load.html", bridge_.get(), &quit_};
    window_ = ::CreateWindowExW(WS_EX_APPWINDOW, htmlui::kWindowClassName, nullptr, WS_POPUP | WS_VISIBLE, 0, 0, 0, 0,
                                nullptr, nullptr, ::GetModuleHandleW(nullptr), &params_);
    ASSERT_NE(window_, nullptr);
  }
  void TearDown() override {
    if (::IsWindow(window_)) ::DestroyWindow(window_);
  }
  void Pump() {
    MSG message;
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&message);
  }

  Apartment apartment_;
  BridgeHolder bridge_;
  bool quit_ = false;
  HostWindowParams params_;
  HWND window_ = nullptr;
};

TEST_F(HostWindowProcTest, CreationGivesTheBridgeTheWindowAndDestructionTakesItBack) {
  HostWindowData* data = GetHostWindowData(window_);
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(data->bridge, bridge_.get());
  EXPECT_EQ(data->quit, &quit_);
  ASSERT_NE(data->site, nullptr);
  EXPECT_EQ(data->site->window(), window_);
  EXPECT_EQ(bridge_.get()->window(), window_);
  ULONG references = RefCount(bridge_.dispatch());

  ::DestroyWindow(window_);
  EXPECT_EQ(bridge_.get()->window(), nullptr);
  EXPECT_EQ(RefCount(bridge_.dispatch()), references);
}

TEST_F(HostWindowProcTest, CreateMessageWithoutParametersOrStartPageFails) {
  CREATESTRUCTW create = {};
  EXPECT_EQ(HostWindowProc(window_, WM_CREATE, 0, reinterpret_cast<LPARAM>(&create)), -1);
  HostWindowParams no_page{nullptr, bridge_.get(), &quit_};
  create.lpCreateParams = &no_page;
  EXPECT_EQ(HostWindowProc(window_, WM_CREATE, 0, reinterpret_cast<LPARAM>(&create)), -1);
  HostWindowParams empty_page{L"", bridge_.get(), &quit_};
  create.lpCreateParams = &empty_page;
  EXPECT_EQ(HostWindowProc(window_, WM_CREATE, 0, reinterpret_cast<LPARAM>(&create)), -1);
}

TEST_F(HostWindowProcTest, CloseSetsTheQuitFlagAndLeavesTheWindowToItsCreator) {
  EXPECT_EQ(::SendMessageW(window_, WM_CLOSE, 0, 0), 0);
  EXPECT_TRUE(quit_);
  EXPECT_TRUE(::IsWindow(window_));
  // A second close changes nothing either.
  EXPECT_EQ(::SendMessageW(window_, WM_CLOSE, 0, 0), 0);
  EXPECT_TRUE(::IsWindow(window_));
}

TEST_F(HostWindowProcTest, AltF4GoesThroughTheQuitFlagToo) {
  ::SendMessageW(window_, WM_SYSCOMMAND, SC_CLOSE, 0);
  EXPECT_TRUE(quit_);
  EXPECT_TRUE(::IsWindow(window_));
}

TEST_F(HostWindowProcTest, WindowWithoutAQuitFlagClosesTheUsualWay) {
  HostWindowParams no_flag{L"C:\\bundle\\Load.html", nullptr, nullptr};
  HWND plain = ::CreateWindowExW(0, htmlui::kWindowClassName, nullptr, WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                 ::GetModuleHandleW(nullptr), &no_flag);
  ASSERT_NE(plain, nullptr);
  ::SendMessageW(plain, WM_CLOSE, 0, 0);
  EXPECT_FALSE(::IsWindow(plain)) << "default processing destroys it";
  EXPECT_FALSE(RequestClose(plain));
}

TEST_F(HostWindowProcTest, RequestCloseWorksOnceAndOnlyOnHostWindows) {
  EXPECT_TRUE(RequestClose(window_));
  EXPECT_TRUE(quit_);
  EXPECT_FALSE(RequestClose(window_)) << "the flag was already set";
  EXPECT_TRUE(::IsWindow(window_));

  HWND other = ::CreateWindowExW(0, L"STATIC", L"not a host", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(other, nullptr);
  EXPECT_FALSE(RequestClose(other));
  ::DestroyWindow(other);
  EXPECT_FALSE(RequestClose(nullptr));
}

TEST_F(HostWindowProcTest, RequestCloseGoesByTheClassNotByWhatTheWindowCarries) {
  // Another class whose windows carry the same data, flag and all: only the
  // host window class's atom lets the flag be set.
  WNDCLASSEXW wc = {sizeof(wc)};
  wc.lpfnWndProc = DocumentlessProc;
  wc.cbWndExtra = sizeof(void*);
  wc.hInstance = ::GetModuleHandleW(nullptr);
  wc.lpszClassName = L"HTMLUI_LOOKALIKE";
  const ATOM lookalike = ::RegisterClassExW(&wc);
  ASSERT_NE(lookalike, 0);
  ASSERT_NE(lookalike, static_cast<ATOM>(::GetClassWord(window_, GCW_ATOM)));
  bool other_quit = false;
  HostWindowParams params{L"C:\\bundle\\Load.html", bridge_.get(), &other_quit};
  HWND other = ::CreateWindowExW(0, wc.lpszClassName, nullptr, WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                 ::GetModuleHandleW(nullptr), &params);
  ASSERT_NE(other, nullptr);
  ASSERT_NE(GetHostWindowData(other), nullptr);
  EXPECT_FALSE(RequestClose(other));
  EXPECT_FALSE(other_quit);
  ::DestroyWindow(other);
  ::UnregisterClassW(wc.lpszClassName, ::GetModuleHandleW(nullptr));
  EXPECT_TRUE(RequestClose(window_)) << "the host window itself still closes";
}

TEST_F(HostWindowProcTest, LoopRunsUntilTheWindowIsClosedAndTheWindowOutlivesIt) {
  ::PostMessageW(window_, WM_CLOSE, 0, 0);
  RunHostMessageLoop(window_, &quit_);
  EXPECT_TRUE(quit_);
  EXPECT_TRUE(::IsWindow(window_)) << "the creator destroys the window after the loop";
}

void CALLBACK CloseFromTimer(HWND window, UINT, UINT_PTR id, DWORD) {
  ::KillTimer(window, id);
  RequestClose(window);
}

TEST_F(HostWindowProcTest, LoopDispatchesOtherMessagesBeforeTheClose) {
  // A timer message is dispatched to the window; its handler asks to close, as
  // script's closeWindow does, and the loop ends.
  ASSERT_NE(::SetTimer(window_, 1, 10, CloseFromTimer), 0u);
  RunHostMessageLoop(window_, &quit_);
  EXPECT_TRUE(quit_);
  EXPECT_TRUE(::IsWindow(window_));
}

TEST_F(HostWindowProcTest, QuitMessageEndsTheLoopAndIsPostedAgain) {
  ::PostQuitMessage(7);
  RunHostMessageLoop(window_, &quit_);
  EXPECT_FALSE(quit_);
  MSG message;
  ASSERT_TRUE(::PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
  EXPECT_EQ(message.wParam, 7u);
}

TEST_F(HostWindowProcTest, FocusIsRememberedOnDeactivationAndGivenBack) {
  HWND edit = ::CreateWindowExW(0, L"EDIT", L"", WS_CHILD | WS_VISIBLE, 0, 0, 50, 20, window_, nullptr, nullptr,
                                nullptr);
  ASSERT_NE(edit, nullptr);
  ::SetFocus(edit);
  if (::GetFocus() != edit) GTEST_SKIP() << "this display driver gives no keyboard focus";
  ::SendMessageW(window_, WM_ACTIVATE, WA_INACTIVE, 0);
  EXPECT_EQ(GetHostWindowData(window_)->focus, edit);
  ::SetFocus(window_);
  EXPECT_EQ(::SendMessageW(window_, WM_SETFOCUS, 0, 0), 0);
  EXPECT_EQ(::GetFocus(), edit);

  // With the host window itself focused, nothing is remembered.
  ::SetFocus(nullptr);
  GetHostWindowData(window_)->focus = nullptr;
  ::SetFocus(window_);
  ::SendMessageW(window_, WM_ACTIVATE, WA_INACTIVE, 0);
  EXPECT_EQ(GetHostWindowData(window_)->focus, nullptr);
}

TEST_F(HostWindowProcTest, SizingWithoutADocumentIsHarmless) {
  EXPECT_EQ(::SendMessageW(window_, WM_SIZE, SIZE_RESTORED, MAKELPARAM(400, 200)), 0);
  ::SetWindowPos(window_, nullptr, 0, 0, 400, 200, SWP_NOZORDER | SWP_NOACTIVATE);
  Pump();
  RECT client = {};
  ::GetClientRect(window_, &client);
  EXPECT_EQ(client.right, 400);
}

}  // namespace
}  // namespace stubframework::htmlui
