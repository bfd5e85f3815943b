// Which addresses are the stub's own pages (they alone get window.external)
// and where the host window may go: the rule as a table of addresses.
#include <gtest/gtest.h>

#include <string>

#include "htmlui/page_origin.h"

namespace stubframework::htmlui {
namespace {

constexpr wchar_t kFolder[] = L"C:\\Users\\Ann\\AppData\\Local\\Temp\\1a2b\\";

using V = NavigationVerdict;

TEST(PageOriginTest, AddressesInsideAndOutsideTheExtractedFolder) {
  const struct {
    const wchar_t* url;
    V verdict;
  } cases[] = {
      // The bundle's pages, as paths and as file URLs.
      {L"C:\\Users\\Ann\\AppData\\Local\\Temp\\1a2b\\Load.html", V::kLoadInPlace},
      {L"C:\\Users\\Ann\\AppData\\Local\\Temp\\1a2b\\pages\\Welcome\\page.html", V::kLoadInPlace},
      {L"file:///C:/Users/Ann/AppData/Local/Temp/1a2b/Load.html", V::kLoadInPlace},
      {L"file:///C:\\Users\\Ann\\AppData\\Local\\Temp\\1a2b\\Load.html", V::kLoadInPlace},
      {L"FILE:///c:/USERS/ann/appdata/LOCAL/temp/1A2B/pages/Welcome/Page.html", V::kLoadInPlace},
      {L"file://localhost/C:/Users/Ann/AppData/Local/Temp/1a2b/Load.html", V::kLoadInPlace},
      {L"file://LOCALHOST/C:/Users/Ann/AppData/Local/Temp/1a2b/Load.html", V::kLoadInPlace},
      {L"file:///C:/Users/Ann/AppData/Local/Temp/1a2b/Load.html?page=Welcome#top", V::kLoadInPlace},
      {L"file:///C:/Users/Ann/AppData/Local/Temp/1a2b/my%20page.html", V::kLoadInPlace},
      {L"file:///C:/Users/Ann/AppData/Local/Temp/1a2b/caf%C3%A9.html", V::kLoadInPlace},
      {L"file:///C:/Users/Ann/AppData/Local/Temp/1a2b/pages%2FWelcome%5Cpage.html", V::kLoadInPlace},
      // Beside or above the folder.
      {L"C:\\Users\\Ann\\AppData\\Local\\Temp\\1a2b", V::kRefuse},
      {L"C:\\Users\\Ann\\AppData\\Local\\Temp\\1a2b\\", V::kRefuse},
      {L"file:///C:/Users/Ann/AppData/Local/Temp/1a2b/", V::kRefuse},
      {L"C:\\Users\\Ann\\AppData\\Local\\Temp\\1a2bc\\Load.html", V::kRefuse},
      {L"C:\\Users\\Ann\\AppData\\Local\\Temp\\Load.html", V::kRefuse},
      {L"file:///D:/Users/Ann/AppData/Local/Temp/1a2b/Load.html", V::kRefuse},
      // ".." and "." segments, plain, escaped, mixed with either slash.
      {L"C:\\Users\\Ann\\AppData\\Local\\Temp\\1a2b\\..\\evil.html", V::kRefuse},
      {L"C:\\Users\\Ann\\AppData\\Local\\Temp\\1a2b\\pages\\..\\Load.html", V::kRefuse},
      {L"C:\\Users\\Ann\\AppData\\Local\\Temp\\1a2b\\.\\Load.html", V::kRefuse},
      {L"file:///C:/Users/Ann/AppData/Local/Temp/1a2b/../evil.html", V::kRefuse},
      {L"file:///C:/Users/Ann/AppData/Local/Temp/1a2b/%2e%2e/evil.html", V::kRefuse},
      {L"file:///C:/Users/Ann/AppData/Local/Temp/1a2b/%2E%2E%5Cevil.html", V::kRefuse},
      {L"file:///C:/Users/Ann/AppData/Local/Temp/1a2b/.%2e/evil.html", V::kRefuse},
      {L"file:///C:/Users/Ann/AppData/Local/Temp/1a2b/%C0%AE%C0%AE/evil.html", V::kRefuse},  // overlong "."
      {L"file:///C:/Users/Ann/AppData/Local/Temp/1a2b/%252e%252e/evil.html", V::kRefuse},    // escaped twice
      {L"file:///C:/Users/Ann/AppData/Local/Temp/1a2b/%zz.html", V::kRefuse},
      {L"file:///C:/Users/Ann/AppData/Local/Temp/1a2b/a%2", V::kRefuse},
      {L"file:///C:/Users/Ann/AppData/Local/Temp/1a2b/a%00.html", V::kRefuse},
      {L"C:\\Users\\Ann\\AppData\\Local\\Temp\\1a2b\\%2e%2e\\evil.html", V::kRefuse},
      // Names Windows reads as other names, streams, empty segments.
      {L"C:\\Users\\Ann\\AppData\\Local\\Temp\\1a2b.\\Load.html", V::kRefuse},
      {L"C:\\Users\\Ann\\AppData\\Local\\Temp\\1a2b\\Load.html.", V::kRefuse},
      {L"C:\\Users\\Ann\\AppData\\Local\\Temp\\1a2b\\Load.html ", V::kRefuse},
      {L"C:\\Users\\Ann\\AppData\\Local\\Temp\\1a2b\\...\\Load.html", V::kRefuse},
      {L"C:\\Users\\Ann\\AppData\\Local\\Temp\\1a2b\\Load.html:evil", V::kRefuse},
      {L"C:\\Users\\Ann\\AppData\\Local\\Temp\\1a2b\\\\Load.html", V::kRefuse},
      // Other hosts and shares.
      {L"\\\\evil\\share\\Load.html", V::kRefuse},
      {L"\\\\?\\C:\\Users\\Ann\\AppData\\Local\\Temp\\1a2b\\Load.html", V::kRefuse},
      {L"file://evil/share/Load.html", V::kRefuse},
      {L"file:////evil/share/Load.html", V::kRefuse},
      {L"file:C:/Users/Ann/AppData/Local/Temp/1a2b/Load.html", V::kRefuse},
      // The web: never in the host window, the browser shows it.
      {L"http://example.com/help.html", V::kOpenInBrowser},
      {L"HTTPS://example.com/help?x=1#a", V::kOpenInBrowser},
      {L"https://", V::kRefuse},
      {L"http:///C:/Users/Ann/AppData/Local/Temp/1a2b/Load.html", V::kRefuse},
      {L"https://example.com/a b", V::kRefuse},
      {L"https://example.com/\" /c calc", V::kRefuse},
      {L"https://example.com/\r\nx", V::kRefuse},
      // Every other scheme.
      {L"javascript:window.external.executeCommand('cmd')", V::kRefuse},
      {L"JavaScript:void(0)", V::kRefuse},
      {L"about:blank", V::kRefuse},
      {L"res://ieframe.dll/navcancl.htm", V::kRefuse},
      {L"mk:@MSITStore:C:\\Users\\Ann\\AppData\\Local\\Temp\\1a2b\\x.chm::/a.htm", V::kRefuse},
      {L"ftp://example.com/a.html", V::kRefuse},
      {L"data:text/html,<script>1</script>", V::kRefuse},
      {L"Load.html", V::kRefuse},
      {L"", V::kRefuse},
  };
  for (const auto& c : cases) {
    const std::wstring url = c.url;
    EXPECT_EQ(ClassifyNavigation(url, kFolder), c.verdict) << ::testing::PrintToString(url);
    EXPECT_EQ(IsBundlePage(url, kFolder), c.verdict == V::kLoadInPlace) << ::testing::PrintToString(url);
  }
}

TEST(PageOriginTest, TheFolderWithOrWithoutItsBackslashAndUnusableFolders) {
  const std::wstring page = L"file:///C:/Temp/1a2b/Load.html";
  EXPECT_TRUE(IsBundlePage(page, L"C:\\Temp\\1a2b\\"));
  EXPECT_TRUE(IsBundlePage(page, L"C:\\Temp\\1a2b"));
  EXPECT_TRUE(IsBundlePage(page, L"c:/temp/1A2B/"));
  EXPECT_TRUE(IsBundlePage(page, L"C:\\"));
  EXPECT_FALSE(IsBundlePage(page, L""));
  EXPECT_FALSE(IsBundlePage(page, L"Temp\\1a2b\\"));
  EXPECT_FALSE(IsBundlePage(page, L"\\\\server\\share\\"));
  EXPECT_FALSE(IsBundlePage(page, L"C:\\Temp\\1a2b\\..\\"));
  EXPECT_FALSE(IsBundlePage(page, L"C:\\Temp\\\\1a2b\\"));
}

TEST(PageOriginTest, TheStartPageGivesItsFolder) {
  EXPECT_EQ(PageFolderOf(L"C:\\Temp\\1a2b\\Load.html"), L"C:\\Temp\\1a2b\\");
  EXPECT_EQ(PageFolderOf(L"C:/Temp/1a2b/Load.html"), L"C:\\Temp\\1a2b\\");
  EXPECT_EQ(PageFolderOf(L"file:///C:/Temp/1a2b/Load.html"), L"C:\\Temp\\1a2b\\");
  EXPECT_EQ(PageFolderOf(L"C:\\Load.html"), L"C:\\");
  EXPECT_EQ(PageFolderOf(L"C:\\Temp\\..\\Load.html"), L"");
  EXPECT_EQ(PageFolderOf(L"\\\\server\\share\\Load.html"), L"");
  EXPECT_EQ(PageFolderOf(L"http://example.com/Load.html"), L"");
  EXPECT_EQ(PageFolderOf(L""), L"");
  // The start page is one of the folder's own.
  const std::wstring start = L"C:\\Users\\Ann\\Temp\\5f\\Load.html";
  EXPECT_TRUE(IsBundlePage(start, PageFolderOf(start)));
}

}  // namespace
}  // namespace stubframework::htmlui
