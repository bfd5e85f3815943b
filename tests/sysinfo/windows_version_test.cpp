// The Windows generation and build rules, on the versions where they change.
#include <gtest/gtest.h>

#include "sysinfo/fact_source.h"
#include "sysinfo/windows_version.h"
#include "sysinfo/fake_facts.h"

namespace stubframework::sysinfo {
namespace {

using testsupport::FakeFacts;

struct VersionCase {
  DWORD major, minor, build;
  const wchar_t* label;
  bool later_than_early_10;
  bool supported_10_build;
  const wchar_t* url_version;
};

const VersionCase kVersions[] = {
    {6, 0, 6002, L"10", true, false, L"6.6002"},  // Vista falls through to "10"
    {6, 1, 7600, L"7", true, false, L"6.7600"},
    {6, 1, 7601, L"7.1", true, false, L"6.7601"},
    {6, 2, 9200, L"8", true, false, L"6.9200"},
    {6, 3, 9600, L"8.1", true, false, L"6.9600"},
    {10, 0, 10240, L"10.18363", false, false, L"10.10240"},
    {10, 0, 14393, L"10.0", true, true, L"10.14393"},
    {10, 0, 17763, L"10.0", true, true, L"10.17763"},
    {10, 0, 18362, L"10.18363", false, false, L"10.18362"},
    {10, 0, 18363, L"10", false, false, L"10.18363"},
    {10, 0, 19041, L"10", false, false, L"10.19041"},
    {10, 0, 19042, L"10", true, true, L"10.19042"},
    {10, 0, 22631, L"10", true, true, L"10.22631"},
    {11, 0, 1000, L"10", true, true, L"11.1000"},
    {5, 1, 2600, L"10", true, false, L"5.2600"},
};

TEST(WindowsVersionTest, LabelLaterThanEarly10SupportedBuildAndUrlVersionPerVersion) {
  for (const VersionCase& c : kVersions) {
    SCOPED_TRACE(::testing::Message() << c.major << "." << c.minor << "." << c.build);
    FakeFacts facts;
    facts.Version(c.major, c.minor, c.build);
    EXPECT_EQ(SystemLabel(facts), c.label);
    EXPECT_EQ(IsLaterThanEarlyWindows10(facts), c.later_than_early_10);
    EXPECT_EQ(IsSupportedWindows10Build(facts), c.supported_10_build);
    EXPECT_EQ(UrlSystemVersion(facts), c.url_version);
    EXPECT_EQ(IsWindows10(facts), c.major == 10);
  }
}

TEST(WindowsVersionTest, WithoutTheTrueVersionRoutineEveryRuleTakesItsDefault) {
  FakeFacts facts;
  facts.true_version_found = false;
  EXPECT_EQ(SystemLabel(facts), L"10");
  EXPECT_FALSE(IsWindows10(facts));
  EXPECT_TRUE(IsLaterThanEarlyWindows10(facts));
  EXPECT_TRUE(IsSupportedWindows10Build(facts));
  EXPECT_EQ(UrlSystemVersion(facts), L"10");
}

TEST(WindowsVersionTest, UrlVersionPrintsLargeNumbersUnsigned) {
  FakeFacts facts;
  facts.Version(0xFFFFFFFFu, 0, 0x80000000u);
  EXPECT_EQ(UrlSystemVersion(facts), L"4294967295.2147483648");
}

}  // namespace
}  // namespace stubframework::sysinfo
