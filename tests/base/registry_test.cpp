#include "base/registry.h"

#include <gtest/gtest.h>
#include <windows.h>

namespace stubframework::utils {
namespace {

const wchar_t kRoot[] = L"SOFTWARE\\BrelvoRegistryTest";

void DeleteTree(REGSAM view) {
  HKEY key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE", 0, KEY_ALL_ACCESS | view, &key) == ERROR_SUCCESS) {
    RegDeleteTreeW(key, L"BrelvoRegistryTest");
    RegCloseKey(key);
  }
}

void Put(REGSAM view, const std::wstring& subkey, const wchar_t* name, DWORD type, const void* data, DWORD size) {
  HKEY key;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, (std::wstring(kRoot) + subkey).c_str(), 0, nullptr, 0,
                            KEY_ALL_ACCESS | view, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), size), ERROR_SUCCESS);
  RegCloseKey(key);
}

void PutText(REGSAM view, const std::wstring& subkey, const wchar_t* name, const std::wstring& text) {
  Put(view, subkey, name, REG_SZ, text.c_str(), static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override { TearDown(); }
  void TearDown() override {
    DeleteTree(KEY_WOW64_64KEY);
    DeleteTree(KEY_WOW64_32KEY);
  }
  const std::wstring base_ = L"HKLM\\SOFTWARE\\BrelvoRegistryTest";
};

TEST_F(RegistryTest, LongAndShortRootNamesAddressTheSameKey) {
  PutText(KEY_WOW64_64KEY, L"\\X", L"v", L"same");
  std::wstring a, b;
  ASSERT_TRUE(base::RegistryReadValue(L"hklm\\SOFTWARE\\BrelvoRegistryTest\\X", L"v", a));
  ASSERT_TRUE(base::RegistryReadValue(L"HKEY_LOCAL_MACHINE\\SOFTWARE\\BrelvoRegistryTest\\X", L"v", b));
  EXPECT_EQ(a, L"same");
  EXPECT_EQ(b, L"same");
}

TEST_F(RegistryTest, DwordReadsSignedAndMultiStringGivesItsFirstString) {
  DWORD all_ones = 4294967295u;
  Put(KEY_WOW64_64KEY, L"", L"dw", REG_DWORD, &all_ones, sizeof(all_ones));
  const wchar_t multi[] = L"first\0second\0";
  Put(KEY_WOW64_64KEY, L"", L"multi", REG_MULTI_SZ, multi, sizeof(multi));
  std::wstring value;
  ASSERT_TRUE(base::RegistryReadValue(base_, L"dw", value));
  EXPECT_EQ(value, L"-1");
  ASSERT_TRUE(base::RegistryReadValue(base_, L"multi", value));
  EXPECT_EQ(value, L"first");
}

TEST_F(RegistryTest, ValueOnlyInThe32BitViewIsFound) {
  PutText(KEY_WOW64_32KEY, L"", L"only32", L"yes");
  std::wstring value;
  ASSERT_TRUE(base::RegistryReadValue(base_, L"only32", value));
  EXPECT_EQ(value, L"yes");
}

TEST_F(RegistryTest, ValueLongerThanTheBufferIsNotRead) {
  PutText(KEY_WOW64_64KEY, L"", L"long", std::wstring(300, L'x'));
  std::wstring value = L"keep";
  EXPECT_FALSE(base::RegistryReadValue(base_, L"long", value));
  EXPECT_EQ(value, L"keep");
  EXPECT_TRUE(base::RegistryReadValue(base_, L"long", value, 1024));
  EXPECT_EQ(value.size(), 300u);
}

TEST_F(RegistryTest, WriteCreatesMissingLevelsInTheChosenViewOnly) {
  ASSERT_TRUE(base::RegistryWriteValue(base_ + L"\\a\\b\\c", L"skipAcceptedEula", L"true", true));
  HKEY key;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\BrelvoRegistryTest\\a\\b\\c", 0,
                          KEY_READ | KEY_WOW64_64KEY, &key),
            ERROR_SUCCESS);
  wchar_t data[16] = {};
  DWORD size = sizeof(data), type = 0;
  EXPECT_EQ(RegQueryValueExW(key, L"skipAcceptedEula", nullptr, &type, reinterpret_cast<BYTE*>(data), &size),
            ERROR_SUCCESS);
  RegCloseKey(key);
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(size, 10u) << "the text and its terminating zero";
  EXPECT_STREQ(data, L"true");
  EXPECT_NE(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\BrelvoRegistryTest\\a", 0, KEY_READ | KEY_WOW64_32KEY, &key),
            ERROR_SUCCESS);
}

TEST_F(RegistryTest, DeleteLeavesAKeyWithSubkeysInPlace) {
  PutText(KEY_WOW64_32KEY, L"\\parent\\child", L"v", L"1");
  EXPECT_FALSE(base::RegistryDeleteKey(base_ + L"\\parent", false));
  EXPECT_TRUE(base::RegistryDeleteKey(base_ + L"\\parent\\child", false));
  EXPECT_TRUE(base::RegistryDeleteKey(base_ + L"\\parent", false));
  EXPECT_FALSE(base::RegistryDeleteKey(base_ + L"\\parent", false));
  EXPECT_FALSE(base::RegistryDeleteKey(L"HKXX\\SOFTWARE", false));
}

TEST_F(RegistryTest, SearchMatchesSuffixesBelowTheKeyCaseInsensitively) {
  const std::wstring vendor = base_ + L"\\Vendor";
  PutText(KEY_WOW64_32KEY, L"\\Vendor\\Product\\13", L"InstallDir", L"C:\\P");
  EXPECT_TRUE(base::RegistrySearchKey(false, vendor, L"Product\\12;Product\\13", L"InstallDir"));
  EXPECT_FALSE(base::RegistrySearchKey(true, vendor, L"Product\\12;Product\\13", L"InstallDir")) << "other view";
  EXPECT_FALSE(base::RegistrySearchKey(false, vendor, L"Product\\14", L"InstallDir"));
}

TEST_F(RegistryTest, SearchFindsADeeperPathWithADifferentCase) {
  PutText(KEY_WOW64_32KEY, L"\\Vendor\\Other\\product\\13", L"InstallDir", L"C:\\P");
  EXPECT_TRUE(base::RegistrySearchKey(false, base_ + L"\\Vendor", L"Product\\12;Product\\13", L"InstallDir"));
}

TEST_F(RegistryTest, SearchNeverMatchesTheTopKeyAndStopsBelowAHolder) {
  PutText(KEY_WOW64_32KEY, L"\\Vendor", L"InstallDir", L"top");
  PutText(KEY_WOW64_32KEY, L"\\Vendor\\Product\\13", L"InstallDir", L"below");
  EXPECT_FALSE(base::RegistrySearchKey(false, base_ + L"\\Vendor", L"Product\\13", L"InstallDir"));
  // A holder whose own path does not match hides what lies below it.
  PutText(KEY_WOW64_32KEY, L"\\V2\\Product", L"InstallDir", L"mid");
  PutText(KEY_WOW64_32KEY, L"\\V2\\Product\\13", L"InstallDir", L"deep");
  EXPECT_FALSE(base::RegistrySearchKey(false, base_ + L"\\V2", L"Product\\13", L"InstallDir"));
}

TEST_F(RegistryTest, SearchWithNoSuffixesIsFalse) {
  PutText(KEY_WOW64_32KEY, L"\\Vendor\\Product\\13", L"InstallDir", L"x");
  EXPECT_FALSE(base::RegistrySearchKey(false, base_ + L"\\Vendor", L"", L"InstallDir"));
  EXPECT_FALSE(base::RegistrySearchKey(false, base_ + L"\\Vendor", L";;;", L"InstallDir"));
  EXPECT_FALSE(base::RegistrySearchKey(false, L"HKNOPE\\Vendor", L"13", L"InstallDir"));
}

TEST(SuffixTest, SplittingDropsEmptyPieces) {
  EXPECT_EQ(base::SplitSuffixes(L"a;;b;"), (std::vector<std::wstring>{L"a", L"b"}));
  EXPECT_TRUE(base::SplitSuffixes(L";").empty());
  EXPECT_TRUE(base::SplitSuffixes(L"").empty());
}

TEST(SuffixTest, SuffixMustBeShorterThanThePath) {
  EXPECT_TRUE(base::SuffixMatches(L"Other\\product\\13\\", L"Product\\13"));
  EXPECT_FALSE(base::SuffixMatches(L"13\\", L"13\\"));
  EXPECT_FALSE(base::SuffixMatches(L"13\\", L"x13"));
  EXPECT_TRUE(base::SuffixMatches(L"x13\\", L"13"));
  EXPECT_FALSE(base::SuffixMatches(L"", L"a"));
}

}  // namespace
}  // namespace stubframework::utils
