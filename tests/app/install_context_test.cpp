#include "app/install_context.h"

#include <gtest/gtest.h>
#include <windows.h>

#include "app/language.h"
#include "app/settings_store.h"

namespace stubframework::app {
namespace {

const wchar_t kTestBase[] = L"HKEY_CURRENT_USER\\SOFTWARE\\BrelvoStubTest\\stubframework";

void DeleteTestTree() { RegDeleteTreeW(HKEY_CURRENT_USER, L"SOFTWARE\\BrelvoStubTest"); }

class InstallContextTest : public ::testing::Test {
 protected:
  void SetUp() override { DeleteTestTree(); }
  void TearDown() override { DeleteTestTree(); }

  std::unique_ptr<InstallContext> Make(unsigned ui_language, const wchar_t* arch = L"x86") {
    SystemFacts facts;
    facts.ui_language = ui_language;
    facts.architecture = arch;
    return std::make_unique<InstallContext>(facts, L"", kTestBase);
  }
};

TEST_F(InstallContextTest, GermanUiGivesGermanInstallLanguage) {
  auto context = Make(1031);
  EXPECT_EQ(context->language_index(), 3);
  EXPECT_EQ(context->properties().Get(L"lang"), L"de");
  EXPECT_EQ(context->install_language(), L"German");
  std::wstring stored;
  ASSERT_TRUE(context->ReadSetting(L"install_language", stored));
  EXPECT_EQ(stored, L"German");
}

TEST_F(InstallContextTest, ItalianUiIsKeptForReportsButNarrowedToEnglish) {
  auto context = Make(1040);
  EXPECT_EQ(context->language_index(), 4);
  EXPECT_STREQ(LanguageAt(context->language_index()).name, L"Italian");
  EXPECT_EQ(context->properties().Get(L"lang"), L"en");
  EXPECT_EQ(context->install_language(), L"English");
}

TEST_F(InstallContextTest, SettingsKeyEndsInProductAndMajorVersion) {
  auto context = Make(1033);
  EXPECT_EQ(context->settings_key(), std::wstring(kTestBase) + L"\\Tessary\\22");
  EXPECT_EQ(MakeSettingsKey(L"B", L"P", L"7"), L"B\\P\\7");
}

TEST_F(InstallContextTest, OsBitsFollowsTheArchitecture) {
  EXPECT_EQ(Make(1033, L"x64")->properties().Get(L"osbits"), L"64");
  EXPECT_EQ(Make(1033, L"x86")->properties().Get(L"osbits"), L"32");
}

TEST_F(InstallContextTest, RequestTokenIsAFreshGuidWithoutBraces) {
  auto a = Make(1033);
  auto b = Make(1033);
  ASSERT_EQ(a->request_token().size(), 36u);
  EXPECT_EQ(a->request_token()[8], L'-');
  EXPECT_NE(a->request_token().find_first_not_of(L"X-"), std::wstring::npos);
  EXPECT_NE(a->request_token(), b->request_token());
}

TEST_F(InstallContextTest, StatusStartsAtFourAndSetterMirrorsToTheRegistry) {
  auto context = Make(1033);
  EXPECT_EQ(context->Status(), 4);
  context->SetStatus(1);
  std::wstring stored;
  ASSERT_TRUE(context->ReadSetting(L"status", stored));
  EXPECT_EQ(stored, L"1");
}

TEST_F(InstallContextTest, SelfUpdateCodeIsReadThroughOnceAndUnsetWithoutAValue) {
  auto context = Make(1033);
  EXPECT_EQ(context->SelfUpdateCode(), 2147483647);
  ASSERT_TRUE(WriteSetting(context->settings_key(), L"selfupdate_code", L"197800"));
  // Still unset: the cache reads the registry while the field holds the marker.
  EXPECT_EQ(context->SelfUpdateCode(), 197800);
  ASSERT_TRUE(WriteSetting(context->settings_key(), L"selfupdate_code", L"5"));
  EXPECT_EQ(context->SelfUpdateCode(), 197800);  // loaded once, not again
}

TEST(LanguageTest, WholeIdRows) {
  const std::pair<unsigned, int> rows[] = {
      {1033, 1}, {1036, 2}, {1031, 3}, {1040, 4}, {1041, 5}, {2058, 6}, {3082, 6}, {1046, 7}, {2070, 7},
      {1043, 8}, {1042, 9}, {1049, 10}, {1029, 11}, {2052, 12}, {4100, 12}, {1028, 13}, {3076, 13}, {5124, 13},
  };
  for (auto [id, index] : rows) EXPECT_EQ(LanguageIndexFromId(id), index) << id;
}

TEST(LanguageTest, PrimaryLanguageRows) {
  // Sub-languages not listed whole fall back to their primary language.
  EXPECT_EQ(LanguageIndexFromId(0x0809), 1);    // English (UK)
  EXPECT_EQ(LanguageIndexFromId(0x0C0C), 2);    // French (Canada)
  EXPECT_EQ(LanguageIndexFromId(0x0807), 3);    // German (Switzerland)
  EXPECT_EQ(LanguageIndexFromId(0x0401), 17);   // Arabic
  EXPECT_EQ(LanguageIndexFromId(0x0415), 72);   // Polish
  EXPECT_EQ(LanguageIndexFromId(0x041F), 95);   // Turkish
  EXPECT_EQ(LanguageIndexFromId(0x0422), 98);   // Ukrainian
  EXPECT_EQ(LanguageIndexFromId(0x0491), 79);   // Scottish Gaelic (145)
  EXPECT_EQ(LanguageIndexFromId(0x046A), 106);  // Yoruba
  EXPECT_STREQ(LanguageAt(LanguageIndexFromId(0x0411)).code, L"jp");
  EXPECT_STREQ(LanguageAt(LanguageIndexFromId(0x0404)).code, L"tw");
}

TEST(LanguageTest, PrimaryLanguage26GoesByTheWholeId) {
  for (unsigned id : {1050u, 2074u, 3098u, 6170u, 7194u, 9242u, 10266u, 11290u, 12314u}) {
    EXPECT_EQ(LanguageIndexFromId(id), 80) << id;
  }
  EXPECT_EQ(LanguageIndexFromId(5146), 25);
  EXPECT_EQ(LanguageIndexFromId(8218), 25);
  EXPECT_EQ(LanguageIndexFromId(4122), 29);
  EXPECT_EQ(LanguageIndexFromId(0x041A + 0x3C00), 0);  // another id with primary 26
}

TEST(LanguageTest, UnknownIdsGiveRowZero) {
  EXPECT_EQ(LanguageIndexFromId(0), 0);
  EXPECT_EQ(LanguageIndexFromId(0x0812), 0);  // Korean sub-language: primary 18 has no row
  EXPECT_EQ(LanguageIndexFromId(0x0455), 0);  // primary 85 has no row, 86 has
  EXPECT_EQ(LanguageIndexFromId(0x0456), 35);
  EXPECT_EQ(LanguageIndexFromId(0x07FF), 0);
  EXPECT_STREQ(LanguageAt(0).code, L"other");
  EXPECT_STREQ(LanguageAt(107).name, L"Zulu");
  EXPECT_STREQ(LanguageAt(108).code, L"other");
}

TEST(LanguageTest, NarrowingKeepsTheShippedLanguagesOnly) {
  for (int kept : {1, 2, 3, 5, 13}) EXPECT_EQ(NarrowInstallLanguage(kept), kept);
  for (int other : {0, 4, 6, 12, 80, 107}) EXPECT_EQ(NarrowInstallLanguage(other), 1) << other;
}

TEST(FinalStatusTest, EveryRowOfTheEndOfRunRule) {
  EXPECT_EQ(FinalStatus(0, L"Repair"), 83);
  EXPECT_EQ(FinalStatus(1, L"Modify"), 71);
  EXPECT_EQ(FinalStatus(2, L"Remove"), 92);
  EXPECT_EQ(FinalStatus(3, L""), 3);
  EXPECT_EQ(FinalStatus(0, L""), 3);
  EXPECT_EQ(FinalStatus(1, L"repair"), 1);  // options compare exactly
  EXPECT_EQ(FinalStatus(4, L"Repair"), 4);
  EXPECT_EQ(FinalStatus(5, L"Modify"), 5);
  EXPECT_EQ(FinalStatus(6, L"Remove"), 6);
}

}  // namespace
}  // namespace stubframework::app
