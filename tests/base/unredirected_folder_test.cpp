#include "base/unredirected_folder.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/wide_format.h"

namespace stubframework::base {
namespace {

// Whether a folder opened by one path and found at a final path is where the
// path says, given the system's own folders and where they really are.
TEST(UnredirectedFolderTest, AFolderIsWhereItsPathSaysUnlessALinkOtherThanTheSystemsLedAway) {
  // Wine's way: the user's Desktop lives in the Linux home; the profile and
  // the temporary folder are where they are named.
  const std::vector<SystemFolderPlace> wine = {
      {L"C:\\users\\u", L"\\\\?\\C:\\users\\u"},
      {L"C:\\users\\u\\Desktop", L"\\\\?\\Z:\\home\\u\\Desktop"},
      {L"C:\\users\\u\\AppData\\Local\\Temp\\", L"\\\\?\\C:\\users\\u\\AppData\\Local\\Temp"},
  };
  const std::vector<SystemFolderPlace> none;
  struct Case {
    const wchar_t* what;
    const wchar_t* named;
    const wchar_t* final_path;
    const std::vector<SystemFolderPlace>* places;
    bool accepted;
  };
  const Case cases[] = {
      {L"the same folder", L"C:\\a\\b", L"\\\\?\\C:\\a\\b", &none, true},
      {L"case and trailing separators", L"c:\\A\\b\\", L"\\\\?\\C:\\a\\B", &none, true},
      {L"a drive's root", L"C:\\", L"\\\\?\\C:\\", &none, true},
      {L"a share", L"\\\\host\\share\\d", L"\\\\?\\UNC\\host\\share\\d", &none, true},
      {L"a link to another drive", L"C:\\a\\b", L"\\\\?\\D:\\b", &none, false},
      {L"a link one level up", L"C:\\a\\b\\c", L"\\\\?\\C:\\x\\b\\c", &none, false},
      {L"a link at the last folder", L"C:\\a\\b", L"\\\\?\\C:\\a\\c", &none, false},
      {L"a longer final path", L"C:\\a\\b", L"\\\\?\\C:\\a\\b\\c", &none, false},
      {L"nothing known of the handle", L"C:\\a", L"", &none, false},
      {L"the system's linked folder itself", L"C:\\users\\u\\Desktop", L"\\\\?\\Z:\\home\\u\\Desktop", &wine, true},
      {L"below the system's linked folder", L"C:\\USERS\\u\\desktop\\x\\y", L"\\\\?\\Z:\\home\\u\\Desktop\\x\\y",
       &wine, true},
      {L"a link planted below the system's linked folder", L"C:\\users\\u\\Desktop\\x",
       L"\\\\?\\Z:\\tmp\\evil", &wine, false},
      {L"the name the system's link replaces", L"C:\\users\\u\\Desktop\\x", L"\\\\?\\C:\\users\\u\\Desktop\\x",
       &wine, false},
      {L"a sibling whose name begins like the linked folder", L"C:\\users\\u\\Desktop2",
       L"\\\\?\\Z:\\home\\u\\Desktop2", &wine, false},
      {L"the profile, not linked, below it", L"C:\\users\\u\\Music", L"\\\\?\\C:\\users\\u\\Music", &wine, true},
      {L"a link planted in the profile", L"C:\\users\\u\\Music", L"\\\\?\\Z:\\home\\u\\Music", &wine, false},
      {L"the temporary folder", L"C:\\users\\u\\AppData\\Local\\Temp\\t", L"\\\\?\\C:\\users\\u\\AppData\\Local\\Temp\\t",
       &wine, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(ToAnsi(c.what));
    EXPECT_EQ(FolderIsWhereNamed(c.named, c.final_path, *c.places), c.accepted);
  }
}

// The real folders: the temporary folder is accepted wherever the system
// keeps it, and a target with no folder at all is refused.
TEST(UnredirectedFolderTest, TheTemporaryFolderIsAcceptedAndAPathWithoutAFolderIsNot) {
  wchar_t temp[MAX_PATH + 1];
  ASSERT_GT(::GetTempPathW(MAX_PATH + 1, temp), 0u);
  EXPECT_TRUE(TargetFolderIsUnredirected(std::wstring(temp) + L"file.bin"));
  EXPECT_TRUE(TargetFolderIsUnredirected(std::wstring(temp) + L"not-made-yet\\deeper\\file.bin"));
  EXPECT_FALSE(TargetFolderIsUnredirected(L""));
}

}  // namespace
}  // namespace stubframework::base
