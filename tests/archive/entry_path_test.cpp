// Which entry names may be written below the destination, and where they land.
#include <gtest/gtest.h>

#include "archive/entry_path.h"

namespace stubframework::archive {
namespace {

TEST(EntryPathTest, OrdinaryRelativeNamesAreContained) {
  for (const wchar_t* name : {L"Load.html", L"pages\\Welcome\\page.js", L"common\\img\\", L"a.b.c", L"..hidden",
                              L"file..", L"contents\\con_x", L"COM10", L"my con.txt", L"\x00e9t\x00e9.txt"}) {
    EXPECT_TRUE(IsContainedEntryName(name)) << name;
  }
}

TEST(EntryPathTest, NamesLeadingOutOfTheDestinationAreRefused) {
  for (const wchar_t* name : {L"..\\x.txt", L"pages\\..\\..\\x.txt", L"a\\..", L"..", L"...\\x", L". .\\x",
                              L".\\x", L"C:\\x.txt", L"C:x.txt", L"\\x.txt", L"\\\\server\\share\\x",
                              L"a\\\\b", L"file.txt:stream", L"", L"\\"}) {
    EXPECT_FALSE(IsContainedEntryName(name)) << name;
  }
}

TEST(EntryPathTest, DeviceNamesAndUnusableCharactersAreRefused) {
  for (const wchar_t* name : {L"CON", L"nul.txt", L"pages\\aux", L"Com1.js", L"lpt9", L"PRN .txt", L"CONOUT$",
                              L"a<b", L"a|b", L"a?b", L"a*b", L"a\"b", L"a>b", L"tab\there"}) {
    EXPECT_FALSE(IsContainedEntryName(name)) << name;
  }
}

TEST(EntryPathTest, StoredNameIsConvertedAndJoined) {
  std::wstring target;
  ASSERT_TRUE(EntryTargetPath(L"C:\\dest\\", "pages/Welcome/page.js", &target));
  EXPECT_EQ(target, L"C:\\dest\\pages\\Welcome\\page.js");
  ASSERT_TRUE(EntryTargetPath(L"C:\\dest", "img/", &target));
  EXPECT_EQ(target, L"C:\\dest\\img\\");
  EXPECT_FALSE(EntryTargetPath(L"C:\\dest\\", "../evil.txt", &target));
  EXPECT_FALSE(EntryTargetPath(L"C:\\dest\\", "/evil.txt", &target));
  EXPECT_FALSE(EntryTargetPath(L"C:\\dest\\", "D:/evil.txt", &target));
  EXPECT_FALSE(EntryTargetPath(L"C:\\dest\\", "", &target));
}

TEST(EntryPathTest, NamesThatMakeTooLongAPathFail) {
  std::wstring target;
  EXPECT_FALSE(EntryTargetPath(L"C:\\dest\\", std::string(300, 'a'), &target));
  EXPECT_FALSE(EntryTargetPath(L"C:\\dest\\", std::string(251, 'a') + "/b", &target));
  ASSERT_TRUE(EntryTargetPath(L"C:\\", std::string(250, 'a') + "/b", &target));
  EXPECT_EQ(target, L"C:\\" + std::wstring(250, L'a') + L"\\b");
}

}  // namespace
}  // namespace stubframework::archive
