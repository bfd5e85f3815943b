// The window and dialog methods through the product's UI host, acting on a
// real "HTMLUI" window (without a document) under Wine's null graphics driver.
// A second thread answers each box as a user would.
#include <gtest/gtest.h>

#include "externalmethods/method_test_support.h"
#include "externalmethods/product/my_external_methods.h"

namespace stubframework::externalmethods {

using namespace testsupport;
namespace {

using testsupport::ScriptArgs;

class DialogMethodsTest : public MethodFixture {
 protected:
  void SetUp() override {
    MethodFixture::SetUp();
    if (HasFatalFailure()) return;
    window_ = std::make_unique<DocumentlessWindow>(app_->external());
    host_->ui = &window_->ui();
  }
  void TearDown() override {
    if (host_) host_->ui = nullptr;
    window_.reset();
    MethodFixture::TearDown();
  }
  // Calls a two-text method while a second thread answers its box.
  bool Answer(const wchar_t* method, const wchar_t* caption, UINT message, WPARAM wparam, VARIANT* result = nullptr,
              WORD flags = DISPATCH_METHOD) {
    DialogAnswerer answerer(Caption(caption), message, wparam);
    EXPECT_EQ(Call(method, flags, ScriptArgs().Text(L"Message text").Text(caption), result), S_OK);
    return answerer.Answered();
  }
  // The store's names, to see that a call added or changed none.
  base::PropertyBag::Map Store() { return app_->context().properties().entries(); }

  std::unique_ptr<DocumentlessWindow> window_;
};

TEST_F(DialogMethodsTest, MessageBoxExitAnsweredNoKeepsTheWindowAndTheStore) {
  const base::PropertyBag::Map before = Store();
  ASSERT_TRUE(Answer(L"messageBoxExit", L"Quit the setup?", WM_COMMAND, Button(IDNO)));
  EXPECT_FALSE(window_->quit());
  EXPECT_EQ(Store(), before);
  EXPECT_TRUE(LogHasLine("EMMessageBoxExit: Message text Quit the setup?"));
  EXPECT_FALSE(LogHasLine("ZSClose"));

  ASSERT_TRUE(Answer(L"messageBoxExit", L"Quit the setup?", WM_COMMAND, Button(IDYES)));
  EXPECT_TRUE(window_->quit());
  EXPECT_TRUE(LogHasLine("ZSClose"));
}

TEST_F(DialogMethodsTest, MessageBoxCancelYesRecordsTheAnswerButKeepsTheWindow) {
  ASSERT_TRUE(Answer(L"messageBoxCancel", L"Cancel the setup?", WM_COMMAND, Button(IDNO)));
  EXPECT_EQ(app_->context().properties().entries().count(L"CancelYes"), 0u);

  app_->external()->SetProperty(L"CancelYes", L"earlier");
  ASSERT_TRUE(Answer(L"messageBoxCancel", L"Cancel the setup?", WM_COMMAND, Button(IDNO)));
  EXPECT_EQ(Prop(L"CancelYes"), L"earlier") << "No leaves it as it was";

  ASSERT_TRUE(Answer(L"messageBoxCancel", L"Cancel the setup?", WM_COMMAND, Button(IDYES)));
  EXPECT_EQ(Prop(L"CancelYes"), L"true");
  EXPECT_FALSE(window_->quit()) << "the page decides";
  EXPECT_TRUE(LogHasLine("EMMessageBoxExit: Message text Cancel the setup?"));
  EXPECT_TRUE(LogHasLine("EMSetProperty CancelYes, true"));
}

TEST_F(DialogMethodsTest, MessageBoxErrorEndsTheLoopHoweverTheBoxCloses) {
  for (auto [message, wparam] : {std::pair<UINT, WPARAM>{WM_COMMAND, Button(IDOK)}, {WM_CLOSE, 0}}) {
    DocumentlessWindow window(app_->external());
    host_->ui = &window.ui();
    app_->external()->SetProperty(L"MsgOK", L"");
    ASSERT_TRUE(Answer(L"messageBoxError", L"Setup failed", message, wparam));
    EXPECT_TRUE(window.quit());
    EXPECT_EQ(Prop(L"MsgOK"), L"true");
  }
  host_->ui = &window_->ui();
  EXPECT_TRUE(LogHasLine("EMMessageBoxError: Message text Setup failed"));
}

TEST_F(DialogMethodsTest, ConfirmIsFalseOnlyForCancelAndShowsItsBoxWithoutAResultSlot) {
  base::UniqueVariant answer;
  ASSERT_TRUE(Answer(L"confirmMessageBox", L"Go on?", WM_SYSCOMMAND, SC_CLOSE, answer.Receive(), 3));
  ASSERT_EQ(answer.Type(), VT_BOOL);
  EXPECT_EQ(answer.Get()->boolVal, VARIANT_FALSE) << "the close box is Cancel";
  EXPECT_TRUE(LogHasLine("EMConfirmMessageBox Result : Cancel Close"));

  ASSERT_TRUE(Answer(L"confirmMessageBox", L"Go on?", WM_COMMAND, Button(IDOK), answer.Receive(), 3));
  ASSERT_EQ(answer.Type(), VT_BOOL);
  EXPECT_EQ(answer.Get()->boolVal, VARIANT_TRUE);
  EXPECT_TRUE(LogHasLine("EMConfirmMessageBox Result : Close"));

  // Nobody takes the answer: the box is shown all the same.
  EXPECT_TRUE(Answer(L"confirmMessageBox", L"Go on?", WM_COMMAND, Button(IDCANCEL), nullptr, 3));
}

TEST_F(DialogMethodsTest, MessageBoxWaitsForOk) {
  EXPECT_TRUE(Answer(L"messageBox", L"Note", WM_COMMAND, Button(IDOK)));
  EXPECT_TRUE(LogHasLine("ZSMessageBox: Message text Note"));
  EXPECT_FALSE(window_->quit());
}

TEST_F(DialogMethodsTest, CloseWindowTwiceHasTheEffectOfOnce) {
  ASSERT_EQ(Call(L"closeWindow", DISPATCH_METHOD, ScriptArgs()), S_OK);
  ASSERT_EQ(Call(L"closeWindow", DISPATCH_METHOD, ScriptArgs()), S_OK);
  EXPECT_TRUE(window_->quit());
  EXPECT_TRUE(::IsWindow(window_->handle())) << "the loop's owner destroys it, not the request";
  MSG pending;
  EXPECT_FALSE(::PeekMessageW(&pending, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE)) << "nothing was posted";
  EXPECT_FALSE(::PeekMessageW(&pending, window_->handle(), WM_CLOSE, WM_CLOSE, PM_NOREMOVE));
}

TEST_F(DialogMethodsTest, TheSameWindowSizeTwiceMovesTheWindowOnce) {
  ASSERT_EQ(Call(L"setWindowSize", DISPATCH_METHOD, ScriptArgs().Int(464).Int(124)), S_OK);
  const int after_first = window_->moves();
  EXPECT_GE(after_first, 1);
  ASSERT_EQ(Call(L"setWindowSize", DISPATCH_METHOD, ScriptArgs().Int(464).Int(124)), S_OK);
  EXPECT_EQ(window_->moves(), after_first);
  RECT client = {};
  ASSERT_TRUE(::GetClientRect(window_->handle(), &client));
  HDC screen = ::GetDC(nullptr);
  const int dpi = ::GetDeviceCaps(screen, LOGPIXELSX);
  ::ReleaseDC(nullptr, screen);
  EXPECT_EQ(client.right, 464 * dpi / 96) << "the client size in 96-DPI units";
  ASSERT_EQ(Call(L"setWindowSize", DISPATCH_METHOD, ScriptArgs().Int(500).Int(124)), S_OK);
  EXPECT_GT(window_->moves(), after_first);
}

TEST_F(DialogMethodsTest, WindowTogglesActOnTheWindowAndLogAfterwards) {
  ASSERT_EQ(Call(L"hideWindow", DISPATCH_METHOD, ScriptArgs()), S_OK);
  EXPECT_FALSE(::IsWindowVisible(window_->handle()));
  ASSERT_EQ(Call(L"showWindow", DISPATCH_METHOD, ScriptArgs()), S_OK);
  EXPECT_TRUE(::IsWindowVisible(window_->handle()));
  ASSERT_EQ(Call(L"minimizeWindow", DISPATCH_METHOD, ScriptArgs()), S_OK);
  EXPECT_TRUE(::IsIconic(window_->handle()));
  for (const char* line : {"EMHideWindow", "EMShowWindow", "EMMinimizeWindow"}) EXPECT_TRUE(LogHasLine(line)) << line;
}

// The picker in folder mode is a dialog of this process owned by the window.
TEST_F(DialogMethodsTest, SelectFolderCancelledReturnsItsArgumentUnchanged) {
  const HWND owner = window_->handle();
  auto owned = [owner](HWND dialog) { return ::GetWindow(dialog, GW_OWNER) == owner; };
  for (const wchar_t* initial : {L"C:\\windows", L""}) {
    DialogAnswerer cancel(owned, WM_COMMAND, Button(IDCANCEL));
    base::UniqueVariant chosen;
    ASSERT_EQ(Call(L"selectFolder", 3, ScriptArgs().Text(initial), chosen.Receive()), S_OK);
    ASSERT_TRUE(cancel.Answered()) << "a picker owned by the window was shown";
    ASSERT_EQ(chosen.Type(), VT_BSTR);
    EXPECT_STREQ(chosen.Get()->bstrVal, initial);
  }
  EXPECT_TRUE(LogHasLine("EMSelectFolder args C:\\windows, Result C:\\windows"));
}

TEST_F(DialogMethodsTest, WithoutAWindowBoxesCountAsNotShown) {
  host_->ui = nullptr;
  base::UniqueVariant answer;
  ASSERT_EQ(Call(L"confirmMessageBox", 3, ScriptArgs().Text(L"m").Text(L"c"), answer.Receive()), S_OK);
  EXPECT_EQ(answer.Get()->boolVal, VARIANT_TRUE) << "only Cancel says no";
  ASSERT_EQ(Call(L"messageBoxCancel", DISPATCH_METHOD, ScriptArgs().Text(L"m").Text(L"c")), S_OK);
  EXPECT_EQ(app_->context().properties().entries().count(L"CancelYes"), 0u);
  ASSERT_EQ(Call(L"messageBoxError", DISPATCH_METHOD, ScriptArgs().Text(L"m").Text(L"c")), S_OK);
  EXPECT_EQ(Prop(L"MsgOK"), L"true") << "goes on as usual";
}

// The process ends at once with exit code 0. Run in a child process of its
// own: a table without an application, reached through a bridge of its own.
TEST(TerminateWindowTest, EndsTheProcessWithExitCodeZero) {
  EXPECT_EXIT(
      {
        base::PropertyBag bag;
        auto* bridge = new htmlui::HtmlExternal(bag);
        externalmethods::MyExternalMethods methods(nullptr);
        bridge->AttachMethods(&methods);
        IDispatch* dispatch = static_cast<IDispatchEx*>(bridge);
        DISPID id = 0;
        LPOLESTR names[] = {const_cast<LPOLESTR>(L"terminateWindow")};
        dispatch->GetIDsOfNames(IID_NULL, names, 1, 0, &id);
        DISPPARAMS none = {};
        dispatch->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr);
        ::ExitProcess(7);  // not reached
      },
      ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace stubframework::externalmethods
