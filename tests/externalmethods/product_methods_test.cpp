// The product's own methods through the bridge, on injected machines, and
// the pageview post to a collector on the shared fault server.
#include <gtest/gtest.h>

#include "base/registry.h"
#include "externalmethods/method_test_support.h"
#include "support/test_servers.h"
#include "sysinfo/pending_restart.h"
#include "telemetry/analytics.h"

namespace stubframework::externalmethods {

using namespace testsupport;
namespace {

using testsupport::ScriptArgs;

constexpr wchar_t kNetKey[] = L"SOFTWARE\\Microsoft\\NET Framework Setup\\NDP\\v4\\Client";
constexpr wchar_t kExplorerKey[] = L"SOFTWARE\\Microsoft\\Internet Explorer";

class ProductMethodsTest : public MethodFixture {
 protected:
  void SetUp() override {
    MethodFixture::SetUp();
    if (HasFatalFailure()) return;
    host_->facts_override = &facts_;
  }
  // Any invocation kind and arguments are taken; the answer is written.
  bool Check(const wchar_t* name) {
    base::UniqueVariant result;
    EXPECT_EQ(Call(name, DISPATCH_PROPERTYGET, ScriptArgs().Int(1).Text(L"ignored"), result.Receive()), S_OK);
    EXPECT_EQ(result.Type(), VT_BOOL) << base::ToAnsi(name);
    return result.Get()->boolVal == VARIANT_TRUE;
  }
  std::wstring Answer(const wchar_t* name) {
    base::UniqueVariant result;
    EXPECT_EQ(Call(name, DISPATCH_METHOD, ScriptArgs(), result.Receive()), S_OK);
    EXPECT_EQ(result.Type(), VT_BSTR) << base::ToAnsi(name);
    return result.Type() == VT_BSTR ? result.Get()->bstrVal : L"";
  }

  testsupport::FakeFacts facts_;
};

TEST_F(ProductMethodsTest, WindowsGenerationChecksFollowTheTrueVersion) {
  const struct {
    sysinfo::VersionNumbers version;
    bool win7gm, win8gm, win10, win7, win8, later_than_early_10;
  } cases[] = {
      {{6, 1, 7600}, true, false, false, true, false, true},
      {{6, 1, 7601}, false, false, false, true, false, true},
      {{6, 2, 9200}, false, true, false, false, true, true},
      {{6, 3, 9600}, false, false, false, false, true, true},
      {{10, 0, 19041}, false, false, true, false, false, false},
      {{10, 0, 17763}, false, false, true, false, false, true},
      {{10, 0, 19045}, false, false, true, false, false, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.version.major << "." << c.version.minor << "." << c.version.build);
    facts_.true_version = c.version;
    EXPECT_EQ(Check(L"isWindows7GM"), c.win7gm);
    EXPECT_EQ(Check(L"isWindows8GM"), c.win8gm);
    EXPECT_EQ(Check(L"isWindows10"), c.win10);
    EXPECT_EQ(Check(L"isWindows7"), c.win7);
    EXPECT_EQ(Check(L"isWindows8"), c.win8);
    EXPECT_EQ(Check(L"isGreaterThanWindows10"), c.later_than_early_10);
  }
  facts_.true_version_found = false;
  EXPECT_FALSE(Check(L"isWindows10"));
  EXPECT_TRUE(Check(L"isGreaterThanWindows10"));
  EXPECT_EQ(Answer(L"GetUrlOSVersion"), L"10");
  EXPECT_TRUE(LogHasLine("Local isWindows7GM Result: validated"));
  EXPECT_TRUE(LogHasLine("Local isWindows8 Result: invalidated"));
}

TEST_F(ProductMethodsTest, UncheckedMethodsWriteNothingWithoutAResultSlot) {
  for (const wchar_t* name : {L"isWindows7", L"isLowRes", L"CheckMinSys", L"GetUrlOSVersion"}) {
    EXPECT_EQ(Call(name, 0, ScriptArgs().Double(2.5)), S_OK) << base::ToAnsi(name);
  }
  EXPECT_TRUE(LogHasLine("Local isWindows7 Result: invalidated"));
}

TEST_F(ProductMethodsTest, DotNetCheckIsTheOnlyCheckedQuestion) {
  base::UniqueVariant result;
  EXPECT_EQ(Call(L"isNET46Installed", 3, ScriptArgs(), result.Receive()), DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(Call(L"isNET46Installed", 3, ScriptArgs().Int(46), result.Receive()), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(Call(L"isNET46Installed", 1, ScriptArgs().Text(L""), result.Receive()), DISP_E_MEMBERNOTFOUND);

  EXPECT_FALSE(Bool(L"isNET46Installed", std::move(ScriptArgs().Text(L"")))) << "no release value";
  facts_.Dword(HKEY_LOCAL_MACHINE, kNetKey, L"Release", 393294);
  EXPECT_FALSE(Bool(L"isNET46Installed", std::move(ScriptArgs().Text(L""))));
  facts_.Dword(HKEY_LOCAL_MACHINE, kNetKey, L"Release", 393295);
  EXPECT_TRUE(Bool(L"isNET46Installed", std::move(ScriptArgs().Text(L"anything"))));
  EXPECT_TRUE(LogHasLine("Local isNET46Installed Result: validated"));
}

TEST_F(ProductMethodsTest, LowResolutionLeadsTheMinimumSystemFlags) {
  facts_.screen_width = 1366;
  EXPECT_FALSE(Check(L"isLowRes"));
  EXPECT_EQ(Answer(L"CheckMinSys"), L"|IELT11") << "no Internet Explorer version: 9";
  facts_.screen_width = 1024;
  EXPECT_TRUE(Check(L"isLowRes"));
  facts_.Text(HKEY_LOCAL_MACHINE, kExplorerKey, L"svcVersion", L"11.0.9600.19036");
  facts_.memory_bytes = 7999ull << 20;
  facts_.true_version = {10, 0, 19041};
  EXPECT_EQ(Answer(L"CheckMinSys"), L"LOWRES|LOWMEM|WIN8");
  EXPECT_TRUE(LogHasLine("EMCheckMinSys"));
  EXPECT_TRUE(LogHasLine("EMCheckMinSys, Result LOWRES|LOWMEM|WIN8"));
  facts_.screen_width = 1280;
  facts_.memory_bytes = 8000ull << 20;
  facts_.true_version = {10, 0, 19042};
  EXPECT_EQ(Answer(L"CheckMinSys"), L"");
}

TEST_F(ProductMethodsTest, ExplorerEightOrOlderOnly) {
  EXPECT_FALSE(Check(L"isIE8")) << "a missing version counts as 9";
  facts_.Text(HKEY_LOCAL_MACHINE, kExplorerKey, L"Version", L"8.0.7601.17514");
  EXPECT_TRUE(Check(L"isIE8"));
  facts_.Text(HKEY_LOCAL_MACHINE, kExplorerKey, L"svcVersion", L"9.0.8112.16421");
  EXPECT_FALSE(Check(L"isIE8"));
  facts_.true_version = {6, 1, 7601};
  EXPECT_EQ(Answer(L"GetUrlOSVersion"), L"6.7601");
  EXPECT_TRUE(LogHasLine("EMGetUrlOSVersion, Result 6.7601"));
}

// The mark is read through the injected facts and removed from the registry.
TEST_F(ProductMethodsTest, PendingRestartIsOnlyTheTextOneAndItsRemovalIsReported) {
  facts_.Text(HKEY_CURRENT_USER, sysinfo::kPendingRestartKey, sysinfo::kPendingRestartValue, L"true");
  EXPECT_FALSE(Check(L"isRequireReboot"));
  facts_.Text(HKEY_CURRENT_USER, sysinfo::kPendingRestartKey, sysinfo::kPendingRestartValue, L"1");
  EXPECT_TRUE(Check(L"isRequireReboot"));

  ASSERT_TRUE(base::RegistryWriteValue(std::wstring(L"HKCU\\") + sysinfo::kPendingRestartKey,
                                       sysinfo::kPendingRestartValue, L"1", false));
  EXPECT_TRUE(Check(L"removeRebootKey"));
  EXPECT_FALSE(Check(L"removeRebootKey")) << "already gone";
  EXPECT_TRUE(LogHasLine("Local removeRebootKey Result: invalidated"));
}

class PageviewMethodTest : public ProductMethodsTest {
 protected:
  void SetUp() override {
    ProductMethodsTest::SetUp();
    if (HasFatalFailure()) return;
    std::string error;
    servers_ = testsupport::TestServers::Get(&error);
    ASSERT_NE(servers_, nullptr) << error;
  }
  const testsupport::TestServers* servers_ = nullptr;
};

TEST_F(PageviewMethodTest, PostsTheBodyToTheCollectorAndReportsNothing) {
  telemetry::Services services;
  services.collector = {L"127.0.0.1", static_cast<unsigned short>(servers_->fault_port()), false};
  telemetry::Analytics analytics(&app_->context(), services, app_->log());
  host_->analytics_override = &analytics;
  const size_t before = servers_->FaultRequests("/collect").size();

  base::UniqueVariant result;
  ASSERT_EQ(Call(L"GetGAPostURL", DISPATCH_METHOD, ScriptArgs().Text(L"v=1&t=pageview&dp=%2FLoad"), result.Receive()),
            S_OK);
  EXPECT_EQ(result.Type(), VT_EMPTY) << "no answer, whatever the collector said";
  std::vector<testsupport::RecordedRequest> posts = servers_->FaultRequests("/collect");
  ASSERT_EQ(posts.size(), before + 1);
  EXPECT_EQ(posts.back().method, "POST");
  EXPECT_TRUE(LogHasLine("GetGAPostURL: v=1&t=pageview&dp=%2FLoad"));
  host_->analytics_override = nullptr;
}

}  // namespace
}  // namespace stubframework::externalmethods
