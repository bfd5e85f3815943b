// The minimum-system flags and the component checks they build on.
#include <gtest/gtest.h>

#include "sysinfo/installed_software.h"
#include "sysinfo/minimum_system.h"
#include "sysinfo/pending_restart.h"
#include "sysinfo/fake_facts.h"

namespace stubframework::sysinfo {
namespace {

using testsupport::FakeFacts;

const wchar_t kExplorer[] = L"SOFTWARE\\Microsoft\\Internet Explorer";
const wchar_t kNet4[] = L"SOFTWARE\\Microsoft\\NET Framework Setup\\NDP\\v4\\Client";

// A machine that lacks nothing.
FakeFacts GoodMachine() {
  FakeFacts facts;
  facts.Version(10, 0, 19045);
  facts.screen_width = 1280;
  facts.memory_bytes = 8000ull << 20;
  facts.Text(HKEY_LOCAL_MACHINE, kExplorer, L"svcVersion", L"11.0.9600.19036");
  return facts;
}

TEST(MinimumSystemTest, EachFlagAtItsBoundaryWithItsOwnSeparator) {
  struct Case {
    const char* what;
    void (*change)(FakeFacts&);
    const wchar_t* flags;
  };
  const Case cases[] = {
      {"nothing lacking", [](FakeFacts&) {}, L""},
      {"1279 pixels", [](FakeFacts& f) { f.screen_width = 1279; }, L"LOWRES"},
      {"7999 MiB", [](FakeFacts& f) { f.memory_bytes = 7999ull << 20; }, L"|LOWMEM"},
      {"8000 MiB less one byte", [](FakeFacts& f) { f.memory_bytes = (8000ull << 20) - 1; }, L"|LOWMEM"},
      {"no memory figure", [](FakeFacts& f) { f.memory_bytes = 0; }, L"|LOWMEM"},
      {"Explorer 10",
       [](FakeFacts& f) { f.Text(HKEY_LOCAL_MACHINE, kExplorer, L"svcVersion", L"10.0.9200.16384"); }, L"|IELT11"},
      {"build 18363", [](FakeFacts& f) { f.Version(10, 0, 18363); }, L"|WIN8"},
      {"build 19041", [](FakeFacts& f) { f.Version(10, 0, 19041); }, L"|WIN8"},
      {"build 19042", [](FakeFacts& f) { f.Version(10, 0, 19042); }, L""},
      {"build 17763", [](FakeFacts& f) { f.Version(10, 0, 17763); }, L""},
      {"Windows 8.1", [](FakeFacts& f) { f.Version(6, 3, 9600); }, L"|WIN8"},
      {"everything",
       [](FakeFacts& f) {
         f.screen_width = 1024;
         f.memory_bytes = 4000ull << 20;
         f.Text(HKEY_LOCAL_MACHINE, kExplorer, L"svcVersion", L"9.0");
         f.Version(6, 1, 7601);
       },
       L"LOWRES|LOWMEM|IELT11|WIN8"},
  };
  for (const Case& c : cases) {
    FakeFacts facts = GoodMachine();
    c.change(facts);
    EXPECT_EQ(MinimumSystemFlags(facts), c.flags) << c.what;
  }
}

TEST(MinimumSystemTest, LowResolutionBelow1280Pixels) {
  FakeFacts facts;
  facts.screen_width = 1366;
  EXPECT_FALSE(IsLowResolution(facts));
  facts.screen_width = 1024;
  EXPECT_TRUE(IsLowResolution(facts));
}

TEST(InternetExplorerVersionTest, FirstReadableValueInOrderAndNineWithoutOne) {
  FakeFacts both;
  both.Text(HKEY_LOCAL_MACHINE, kExplorer, L"Version", L"9.11.9600.19036")
      .Text(HKEY_LOCAL_MACHINE, kExplorer, L"svcVersion", L"11.0.9600.19036");
  EXPECT_EQ(InternetExplorerMajorVersion(both), 11);
  both.Text(HKEY_LOCAL_MACHINE, kExplorer, L"svcUpdateVersion", L"12.0.1");
  EXPECT_EQ(InternetExplorerMajorVersion(both), 12);

  FakeFacts old;
  old.Text(HKEY_LOCAL_MACHINE, kExplorer, L"Version", L"8.0.7601.17514");
  EXPECT_EQ(InternetExplorerMajorVersion(old), 8);

  FakeFacts empty_key;
  empty_key.Key(HKEY_LOCAL_MACHINE, kExplorer);
  EXPECT_EQ(InternetExplorerMajorVersion(empty_key), 9);
  EXPECT_EQ(InternetExplorerMajorVersion(FakeFacts()), 9);
}

TEST(NetFrameworkTest, Release393295IsTheFirstThatCounts) {
  FakeFacts facts;
  EXPECT_FALSE(IsNet46Installed(facts));
  facts.Dword(HKEY_LOCAL_MACHINE, kNet4, L"Release", 393294);
  EXPECT_FALSE(IsNet46Installed(facts));
  facts.Dword(HKEY_LOCAL_MACHINE, kNet4, L"Release", 393295);
  EXPECT_TRUE(IsNet46Installed(facts));
}

TEST(PendingRestartTest, OnlyTheTextOneCounts) {
  const struct {
    const wchar_t* text;
    bool pending;
  } cases[] = {{L"1", true}, {L"true", false}, {L"0", false}, {L"", false}, {L"1 ", false}};
  for (const auto& c : cases) {
    FakeFacts facts;
    facts.Text(HKEY_CURRENT_USER, kPendingRestartKey, kPendingRestartValue, c.text);
    EXPECT_EQ(IsRestartPending(facts), c.pending) << "'" << std::string(c.text, c.text + wcslen(c.text)) << "'";
  }
  EXPECT_FALSE(IsRestartPending(FakeFacts()));
}

class PendingRestartRegistryTest : public ::testing::Test {
 protected:
  void SetUp() override { ::RegDeleteKeyW(HKEY_CURRENT_USER, kPendingRestartKey); }
  void TearDown() override { ::RegDeleteKeyW(HKEY_CURRENT_USER, kPendingRestartKey); }
  static void Write(const wchar_t* text) {
    HKEY key = nullptr;
    ASSERT_EQ(::RegCreateKeyExW(HKEY_CURRENT_USER, kPendingRestartKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                                nullptr),
              ERROR_SUCCESS);
    ::RegSetValueExW(key, kPendingRestartValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                     static_cast<DWORD>((wcslen(text) + 1) * sizeof(wchar_t)));
    ::RegCloseKey(key);
  }
};

TEST_F(PendingRestartRegistryTest, ReadsTheRealMarkAndRemovesItOnce) {
  EXPECT_FALSE(IsRestartPending());
  EXPECT_FALSE(RemovePendingRestart()) << "no key";
  Write(L"1");
  EXPECT_TRUE(IsRestartPending());
  EXPECT_TRUE(RemovePendingRestart());
  EXPECT_FALSE(IsRestartPending());
  EXPECT_FALSE(RemovePendingRestart()) << "the value is gone";
  Write(L"true");
  EXPECT_FALSE(IsRestartPending());
  EXPECT_TRUE(RemovePendingRestart()) << "any value is removed";
}

}  // namespace
}  // namespace stubframework::sysinfo
