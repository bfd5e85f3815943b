// Which entry names may be written below the destination, and where they land.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "base/wide_format.h"

#include "archive/entry_path.h"

namespace stubframework::archive {
namespace {

TEST(EntryPathTest, OrdinaryRelativeNamesAreContained) {
  for (const wchar_t* name : {L"Load.html", L"pages\\Welcome\\page.js", L"common\\img\\", L"a.b.c", L"..hidden",
                              L"contents\\con_x", L"COM10", L"my con.txt", L"\x00e9t\x00e9.txt"}) {
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

// The table the pages' isSafeRelativeName is tested with too: "/" separated,
// as a stored name is before it is joined.
TEST(EntryPathTest, TheSharedTableOfRelativeNames) {
  std::ifstream file(STUB_ENTRY_NAMES_JSON);
  ASSERT_TRUE(file.is_open()) << STUB_ENTRY_NAMES_JSON;
  nlohmann::json table = nlohmann::json::parse(file);
  ASSERT_GT(table["cases"].size(), 40u);
  for (const auto& row : table["cases"]) {
    std::wstring name = base::FromUtf8(row[0].get<std::string>());
    std::replace(name.begin(), name.end(), L'/', L'\\');
    EXPECT_EQ(IsContainedEntryName(name), row[1].get<bool>()) << row[0].get<std::string>();
  }
}

TEST(EntryPathTest, NamesThatAreOneFileOnWindowsAreNotDistinct) {
  const struct {
    std::vector<std::wstring> names;
    bool distinct;
  } cases[] = {
      {{L"a/setup.exe", L"b/setup.exe", L"setup.exe"}, true},
      {{L"docs/", L"DOCS/", L"docs/readme.txt"}, true},  // a folder may be named twice
      {{L"setup.exe", L"SETUP.EXE"}, false},
      {{L"a/setup.exe", L"A/Setup.exe"}, false},
      {{L"a\\x", L"a/X"}, false},
      {{L"tools", L"TOOLS/"}, false},  // a file and a folder of one name
      {{L"TOOLS/", L"tools"}, false},
      {{L"\x00e9t\x00e9.txt", L"\x00c9T\x00c9.TXT"}, false},  // case beyond ASCII
      {{L"stra\x00dfe", L"STRASSE"}, true},  // no folding of one letter into two
      {{}, true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(EntryNamesAreDistinct(c.names), c.distinct) << c.names.size() << " " << (c.names.empty() ? "" : base::ToUtf8(c.names[0]));
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
