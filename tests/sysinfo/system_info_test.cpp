#include "sysinfo/system_info.h"

#include <gtest/gtest.h>

#include <regex>

namespace stubframework::sysinfo {
namespace {

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

TEST(TimestampTest, FixedWidthUtcTexts) {
  std::wstring plain = Timestamp();
  std::wstring with_ms = TimestampWithMilliseconds();
  EXPECT_TRUE(std::regex_match(std::string(plain.begin(), plain.end()), std::regex(R"(\d{14})")));
  EXPECT_TRUE(std::regex_match(std::string(with_ms.begin(), with_ms.end()), std::regex(R"(\d{14}[ \d]{2}\d)")));
}

}  // namespace
}  // namespace stubframework::sysinfo
