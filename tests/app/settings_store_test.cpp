#include "app/settings_store.h"

#include <gtest/gtest.h>
#include <windows.h>

#include "base/registry_path.h"

namespace stubframework::app {
namespace {

// A machine-wide key: HKLM\SOFTWARE is split into 32- and 64-bit views under
// WoW64, which the view tests need.
const wchar_t kTestSubkey[] = L"SOFTWARE\\BrelvoStubTest\\Settings";
const wchar_t kTestPath[] = L"HKLM\\SOFTWARE\\BrelvoStubTest\\Settings";

void DeleteTestKey(REGSAM view) {
  RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kTestSubkey, view, 0);
  RegDeleteKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\BrelvoStubTest", view, 0);
}

void WriteRaw(REGSAM view, const wchar_t* name, DWORD type, const void* data, DWORD size) {
  HKEY key;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kTestSubkey, 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr, &key,
                            nullptr),
            ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), size), ERROR_SUCCESS);
  RegCloseKey(key);
}

bool ExistsInView(REGSAM view, const wchar_t* name) {
  HKEY key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kTestSubkey, 0, KEY_READ | view, &key) != ERROR_SUCCESS) return false;
  bool found = RegQueryValueExW(key, name, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
  RegCloseKey(key);
  return found;
}

class SettingsTest : public ::testing::Test {
 protected:
  void SetUp() override { TearDown(); }
  void TearDown() override {
    DeleteTestKey(KEY_WOW64_64KEY);
    DeleteTestKey(KEY_WOW64_32KEY);
  }
};

TEST_F(SettingsTest, DwordValueReadsAsDecimalText) {
  DWORD five = 5;
  WriteRaw(KEY_WOW64_64KEY, L"status", REG_DWORD, &five, sizeof(five));
  std::wstring value;
  ASSERT_TRUE(ReadSetting(kTestPath, L"status", value));
  EXPECT_EQ(value, L"5");
}

TEST_F(SettingsTest, ValueOnlyInThe32BitViewIsFoundAfterThe64BitViewMisses) {
  const wchar_t text[] = L"22.0.0.0";
  WriteRaw(KEY_WOW64_32KEY, L"production_version", REG_SZ, text, sizeof(text));
  ASSERT_FALSE(ExistsInView(KEY_WOW64_64KEY, L"production_version"));
  std::wstring value;
  ASSERT_TRUE(ReadSetting(kTestPath, L"production_version", value));
  EXPECT_EQ(value, L"22.0.0.0");
}

TEST_F(SettingsTest, The64BitViewWinsWhenBothHoldTheValue) {
  const wchar_t a[] = L"from64";
  const wchar_t b[] = L"from32";
  WriteRaw(KEY_WOW64_64KEY, L"channel", REG_SZ, a, sizeof(a));
  WriteRaw(KEY_WOW64_32KEY, L"channel", REG_SZ, b, sizeof(b));
  std::wstring value;
  ASSERT_TRUE(ReadSetting(kTestPath, L"channel", value));
  EXPECT_EQ(value, L"from64");
}

TEST_F(SettingsTest, MissingValueLeavesTheTargetUnchanged) {
  std::wstring value = L"keep";
  EXPECT_FALSE(ReadSetting(kTestPath, L"absent", value));
  EXPECT_EQ(value, L"keep");
}

TEST_F(SettingsTest, WritesLandInThe32BitViewUnlessAsked) {
  ASSERT_TRUE(WriteSetting(kTestPath, L"status", L"3"));
  EXPECT_TRUE(ExistsInView(KEY_WOW64_32KEY, L"status"));
  EXPECT_FALSE(ExistsInView(KEY_WOW64_64KEY, L"status"));

  ASSERT_TRUE(WriteSetting(kTestPath, L"runonce", L"x", /*view64=*/true));
  EXPECT_TRUE(ExistsInView(KEY_WOW64_64KEY, L"runonce"));
  EXPECT_FALSE(ExistsInView(KEY_WOW64_32KEY, L"runonce"));

  std::wstring value;
  ASSERT_TRUE(ReadSetting(kTestPath, L"status", value));
  EXPECT_EQ(value, L"3");
}

TEST_F(SettingsTest, UnknownRootFailsBothWays) {
  std::wstring value = L"keep";
  EXPECT_FALSE(ReadSetting(L"HKEY_NOWHERE\\SOFTWARE\\X", L"v", value));
  EXPECT_FALSE(WriteSetting(L"HKXX\\SOFTWARE\\X", L"v", L"1"));
  EXPECT_EQ(value, L"keep");
}

TEST(RegistryPathTest, EveryRootNameParsesWithoutRegardToCase) {
  struct Case {
    const wchar_t* name;
    HKEY root;
  };
  const Case cases[] = {
      {L"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE}, {L"hklm", HKEY_LOCAL_MACHINE},
      {L"HKEY_CURRENT_USER", HKEY_CURRENT_USER},   {L"HkCu", HKEY_CURRENT_USER},
      {L"hkey_current_config", HKEY_CURRENT_CONFIG}, {L"HKCC", HKEY_CURRENT_CONFIG},
      {L"HKEY_USERS", HKEY_USERS},                 {L"hku", HKEY_USERS},
      {L"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},   {L"HKCR", HKEY_CLASSES_ROOT},
      {L"HKEY_DTN_DATA", HKEY_DYN_DATA},           {L"hkdd", HKEY_DYN_DATA},
  };
  for (const Case& c : cases) {
    base::RegistryPath path = base::ParseRegistryPath(std::wstring(c.name) + L"\\SOFTWARE\\A\\B");
    EXPECT_EQ(path.root, c.root) << c.name;
    EXPECT_EQ(path.subkey, L"SOFTWARE\\A\\B") << c.name;
  }
}

TEST(RegistryPathTest, UnknownOrPartialRootNamesGiveNoRoot) {
  EXPECT_EQ(base::ParseRegistryPath(L"HKEY_LOCAL\\SOFTWARE").root, nullptr);
  EXPECT_EQ(base::ParseRegistryPath(L"HKLMX\\SOFTWARE").root, nullptr);
  EXPECT_EQ(base::ParseRegistryPath(L"SOFTWARE\\HKLM").root, nullptr);
  EXPECT_EQ(base::ParseRegistryPath(L"").root, nullptr);
  // Without a backslash the whole text is the root name and the subkey.
  base::RegistryPath bare = base::ParseRegistryPath(L"HKCU");
  EXPECT_EQ(bare.root, HKEY_CURRENT_USER);
  EXPECT_EQ(bare.subkey, L"HKCU");
}

}  // namespace
}  // namespace stubframework::app
