// The methods that read this program's own command line, which CTest starts
// as a stub started silently from a download folder would be:
// "/Qn shortcut=C:\stubs\TessarySetup.exe".
#include <gtest/gtest.h>

#include "externalmethods/desktop_shortcut.h"
#include "externalmethods/method_test_support.h"

namespace stubframework::externalmethods {

using namespace testsupport;
namespace {

using testsupport::ScriptArgs;

class StartedStubTest : public MethodFixture {};

TEST_F(StartedStubTest, QnInAnyCaseMeansASilentLaunch) {
  EXPECT_TRUE(Bool(L"isSilentLaunchStub", ScriptArgs(), DISPATCH_METHOD));
  EXPECT_TRUE(LogHasLine("EMIsSilentLaunchStub Result: launch silently"));
}

TEST_F(StartedStubTest, TheShortcutArgumentNamesTheCurrentPathAndTheShortcutsTarget) {
  base::UniqueVariant path;
  ASSERT_EQ(Call(L"getCurrentPath", DISPATCH_METHOD, ScriptArgs(), path.Receive()), S_OK);
  ASSERT_EQ(path.Type(), VT_BSTR);
  EXPECT_STREQ(path.Get()->bstrVal, L"C:\\stubs");

  const std::wstring link = externalmethods::DesktopShortcutPath(L"Continue Tessary Setup.lnk");
  ASSERT_FALSE(link.empty());
  ::DeleteFileW(link.c_str());
  ASSERT_EQ(Call(L"manageDesktopShortcut", DISPATCH_METHOD,
                 ScriptArgs().Text(L"Continue Tessary Setup.lnk").Bool(true)),
            S_OK);
  EXPECT_TRUE(Exists(link));
  ASSERT_EQ(Call(L"manageDesktopShortcut", DISPATCH_METHOD,
                 ScriptArgs().Text(L"Continue Tessary Setup.lnk").Bool(false)),
            S_OK);
  EXPECT_FALSE(Exists(link));
}

}  // namespace
}  // namespace stubframework::externalmethods
