#include "sysinfo/system_info.h"

#include <gtest/gtest.h>

#include <regex>

#include "sysinfo/fake_facts.h"
#include "sysinfo/installed_software.h"
#include "sysinfo/windows_version.h"

namespace stubframework::sysinfo {
namespace {

using testsupport::FakeFacts;

constexpr BYTE kWorkstation = VER_NT_WORKSTATION;
constexpr BYTE kServer = VER_NT_SERVER;

TEST(SystemNameTest, ClientVersionsByMajorAndMinor) {
  EXPECT_EQ(SystemNameFor(5, 1, kWorkstation, PROCESSOR_ARCHITECTURE_INTEL), L"Windows XP");
  EXPECT_EQ(SystemNameFor(6, 0, kWorkstation, PROCESSOR_ARCHITECTURE_INTEL), L"Windows Vista");
  EXPECT_EQ(SystemNameFor(6, 1, kWorkstation, PROCESSOR_ARCHITECTURE_AMD64), L"Windows 7");
  EXPECT_EQ(SystemNameFor(6, 2, kWorkstation, PROCESSOR_ARCHITECTURE_AMD64), L"Windows 8");
  EXPECT_EQ(SystemNameFor(6, 3, kWorkstation, PROCESSOR_ARCHITECTURE_AMD64), L"Windows 8");
  EXPECT_EQ(SystemNameFor(6, 4, kWorkstation, PROCESSOR_ARCHITECTURE_AMD64), L"Windows 10");
  EXPECT_EQ(SystemNameFor(10, 0, kWorkstation, PROCESSOR_ARCHITECTURE_AMD64), L"Windows 10");
  EXPECT_EQ(SystemNameFor(6, 5, kWorkstation, PROCESSOR_ARCHITECTURE_AMD64), L"Other");
  EXPECT_EQ(SystemNameFor(11, 0, kWorkstation, PROCESSOR_ARCHITECTURE_AMD64), L"Other");
}

TEST(SystemNameTest, Version52IsXpOnlyForA64BitWorkstation) {
  EXPECT_EQ(SystemNameFor(5, 2, kWorkstation, PROCESSOR_ARCHITECTURE_AMD64), L"Windows XP");
  EXPECT_EQ(SystemNameFor(5, 2, kWorkstation, PROCESSOR_ARCHITECTURE_INTEL), L"Other");
  EXPECT_EQ(SystemNameFor(5, 2, kServer, PROCESSOR_ARCHITECTURE_AMD64), L"Other");
}

TEST(SystemNameTest, ServersAreOther) {
  EXPECT_EQ(SystemNameFor(10, 0, kServer, PROCESSOR_ARCHITECTURE_AMD64), L"Other");
  EXPECT_EQ(SystemNameFor(6, 1, VER_NT_DOMAIN_CONTROLLER, PROCESSOR_ARCHITECTURE_AMD64), L"Other");
}

TEST(SystemNameTest, ManifestedProcessSeesWindows10UnderAWin10Prefix) {
  // This test program carries the product's manifest; the test prefix reports Windows 10.
  EXPECT_EQ(SystemName(), L"Windows 10");
}

TEST(ArchitectureTest, OnlyAmd64AndIa64Are64Bit) {
  EXPECT_EQ(ArchitectureTextFor(PROCESSOR_ARCHITECTURE_AMD64), L"x64");
  EXPECT_EQ(ArchitectureTextFor(PROCESSOR_ARCHITECTURE_IA64), L"x64");
  EXPECT_EQ(ArchitectureTextFor(PROCESSOR_ARCHITECTURE_INTEL), L"x86");
  EXPECT_EQ(ArchitectureTextFor(PROCESSOR_ARCHITECTURE_ARM64), L"x86");
  // A 32-bit process in a 64-bit prefix still sees the native architecture.
  EXPECT_EQ(ArchitectureText(), L"x64");
}

TEST(SystemNameTest, AFailedVersionQueryIsOther) {
  FakeFacts facts;
  facts.reported_ok = false;
  EXPECT_EQ(SystemName(facts), L"Other");
  facts.reported_ok = true;
  facts.reported = {5, 2, VER_NT_WORKSTATION};
  facts.architecture = PROCESSOR_ARCHITECTURE_AMD64;
  EXPECT_EQ(SystemName(facts), L"Windows XP") << "the native architecture comes from the same source";
}

TEST(DefaultBrowserTest, UsersKeyDecidesWhenItOpensElseTheMachines) {
  const wchar_t kUser[] = L"Software\\Clients\\StartMenuInternet";
  const wchar_t kMachine[] = L"SOFTWARE\\Clients\\StartMenuInternet";
  FakeFacts user_and_machine;
  user_and_machine.Text(HKEY_CURRENT_USER, kUser, L"", L"Firefox-308046B0AF4A39CB")
      .Text(HKEY_LOCAL_MACHINE, kMachine, L"", L"IEXPLORE.EXE");
  EXPECT_EQ(DefaultBrowser(user_and_machine), L"Firefox-308046B0AF4A39CB");

  FakeFacts machine_only;
  machine_only.Text(HKEY_LOCAL_MACHINE, kMachine, L"", L"IEXPLORE.EXE");
  EXPECT_EQ(DefaultBrowser(machine_only), L"IEXPLORE.EXE");

  FakeFacts empty_user_key;
  empty_user_key.Key(HKEY_CURRENT_USER, kUser).Text(HKEY_LOCAL_MACHINE, kMachine, L"", L"IEXPLORE.EXE");
  EXPECT_EQ(DefaultBrowser(empty_user_key), L"Other") << "an opened user key without a value is not passed over";

  EXPECT_EQ(DefaultBrowser(FakeFacts()), L"Other");
}

TEST(CountryTest, NationIdAsSignedDecimal) {
  FakeFacts facts;
  facts.geo_nation = 244;
  EXPECT_EQ(CountryIdText(facts), L"244");
  facts.geo_nation = -1;  // GEOID_NOT_AVAILABLE
  EXPECT_EQ(CountryIdText(facts), L"-1");
}

TEST(TimestampTest, FixedWidthUtcTexts) {
  FakeFacts facts;
  facts.now = {2024, 1, 3, 31, 23, 59, 59, 7};
  EXPECT_EQ(Timestamp(facts), L"20240131235959");
  EXPECT_EQ(TimestampWithMilliseconds(facts), L"20240131235959  7");
  facts.now = {2025, 12, 0, 1, 0, 0, 5, 999};
  EXPECT_EQ(TimestampWithMilliseconds(facts), L"20251201000005999");

  std::wstring with_ms = TimestampWithMilliseconds();
  EXPECT_TRUE(std::regex_match(std::string(with_ms.begin(), with_ms.end()), std::regex(R"(20\d{12}[ \d]{2}\d)")));
}

// The rules on what the test prefix really reports (Wine 8 set to Windows 10:
// 10.0.18362, a 64-bit system).
TEST(RealMachineTest, WinePrefixValues) {
  WindowsFacts facts;
  VersionNumbers true_version;
  ASSERT_TRUE(facts.TrueVersion(&true_version));
  EXPECT_EQ(true_version.major, 10u);
  VersionNumbers block;
  ASSERT_TRUE(facts.ProcessBlockVersion(&block));
  EXPECT_EQ(block.major, true_version.major);
  EXPECT_EQ(block.minor, true_version.minor);
  EXPECT_EQ(block.build, true_version.build);

  EXPECT_EQ(UrlSystemVersion(), L"10." + std::to_wstring(true_version.build));
  EXPECT_TRUE(IsWindows10());
  EXPECT_EQ(SystemLabel(), true_version.build > 18362 ? L"10" : L"10.18363");
  EXPECT_GT(facts.ScreenWidth(), 0);
  EXPECT_GT(facts.PhysicalMemoryBytes(), 0u);
  int explorer = InternetExplorerMajorVersion();
  EXPECT_GE(explorer, 8);
  EXPECT_LE(explorer, 11);
  EXPECT_FALSE(DefaultBrowser().empty());
  std::wstring country = CountryIdText();
  EXPECT_TRUE(std::regex_match(std::string(country.begin(), country.end()), std::regex(R"(-?\d+)")));
}

}  // namespace
}  // namespace stubframework::sysinfo
