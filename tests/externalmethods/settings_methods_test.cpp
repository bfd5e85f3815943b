// The language, settings and system-version methods as a page calls them.
#include <gtest/gtest.h>

#include <map>

#include "base/registry.h"
#include "externalmethods/method_test_support.h"

namespace stubframework::externalmethods {

using namespace testsupport;
namespace {

using testsupport::ScriptArgs;

// Settings the methods write under the settings key; put back afterwards.
class SettingsMethodsTest : public MethodFixture {
 protected:
  void SetUp() override {
    MethodFixture::SetUp();
    if (HasFatalFailure()) return;
    for (const wchar_t* name : kNames) {
      std::wstring value;
      if (base::RegistryReadValue(app_->settings_key(), name, value)) saved_[name] = value;
    }
  }
  void TearDown() override {
    for (const auto& [name, value] : saved_) base::RegistryWriteValue(app_->settings_key(), name, value, false);
    MethodFixture::TearDown();
  }
  std::wstring Setting(const wchar_t* name) {
    std::wstring value;
    base::RegistryReadValue(app_->settings_key(), name, value);
    return value;
  }

  static constexpr const wchar_t* kNames[] = {L"status", L"channel", L"install_language"};
  std::map<std::wstring, std::wstring> saved_;
};

TEST_F(SettingsMethodsTest, InstallLanguageCodesMatchExactlyAndWhole) {
  const struct {
    const wchar_t* code;
    LONG row;
  } cases[] = {{L"en", 1}, {L"jp", 5}, {L"tw", 13}, {L"zu", 107}, {L"ja", 0},
               {L"EN", 0}, {L"other", 0}, {L"", 0}, {L"en ", 0}, {L"e", 0}};
  for (const auto& c : cases) {
    EXPECT_EQ(Int(L"getParsedInstallLanguage", std::move(ScriptArgs().Text(c.code))), c.row) << base::ToAnsi(c.code);
  }
}

TEST_F(SettingsMethodsTest, LanguageIdsMapWholeThenByPrimaryLanguage) {
  const struct {
    LONG id;
    LONG row;
  } cases[] = {
      {1033, 1}, {3082, 6}, {2057, 1}, {1050, 80}, {1034, 6}, {1087, 51},
      // Only the low 16 bits count: a sort id above them changes nothing.
      {0x10000 | 1033, 1}, {0, 0}, {-1, 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Int(L"getLanguageByID", std::move(ScriptArgs().Int(c.id))), c.row) << c.id;
  }
}

TEST_F(SettingsMethodsTest, SetLangTakesAnyRowOfTheTableAndRefusesTheRest) {
  ASSERT_EQ(Call(L"setLang", DISPATCH_METHOD, ScriptArgs().Int(107)), S_OK);
  EXPECT_EQ(Prop(L"lang"), L"zu");
  EXPECT_EQ(Setting(L"install_language"), L"Zulu");
  EXPECT_EQ(app_->context().install_language(), L"Zulu");
  // Not narrowed to the shipped languages: Italian stays Italian.
  ASSERT_EQ(Call(L"setLang", DISPATCH_METHOD, ScriptArgs().Int(4)), S_OK);
  EXPECT_EQ(Prop(L"lang"), L"it");
  EXPECT_EQ(Setting(L"install_language"), L"Italian");

  for (LONG outside : {108L, -1L, 0x7FFFFFFFL}) {
    EXPECT_EQ(Call(L"setLang", DISPATCH_METHOD, ScriptArgs().Int(outside)), STG_E_INVALIDPARAMETER) << outside;
  }
  EXPECT_EQ(Prop(L"lang"), L"it") << "a refused number changes nothing";
  EXPECT_EQ(Setting(L"install_language"), L"Italian");
  ASSERT_EQ(Call(L"setLang", DISPATCH_METHOD, ScriptArgs().Int(0)), S_OK);
  EXPECT_EQ(Prop(L"lang"), L"other");
}

TEST_F(SettingsMethodsTest, InstallStatusAcceptsTheSevenPageValuesOnly) {
  ASSERT_EQ(Call(L"setInstallStatus", DISPATCH_METHOD, ScriptArgs().Int(6)), S_OK);
  EXPECT_EQ(Setting(L"status"), L"6");
  EXPECT_EQ(app_->context().Status(), 6);
  EXPECT_TRUE(LogHasLine("EMSetInstallStatus: 6"));
  ASSERT_EQ(Call(L"setInstallStatus", DISPATCH_METHOD, ScriptArgs().Int(0)), S_OK);
  EXPECT_EQ(Setting(L"status"), L"0");

  for (LONG outside : {7L, -1L}) {
    EXPECT_EQ(Call(L"setInstallStatus", DISPATCH_METHOD, ScriptArgs().Int(outside)), STG_E_INVALIDPARAMETER);
  }
  EXPECT_EQ(Setting(L"status"), L"0");
  EXPECT_EQ(app_->context().Status(), 0);
  EXPECT_FALSE(LogHasLine("EMSetInstallStatus: 7"));
}

TEST_F(SettingsMethodsTest, ChannelIsKeptAndWritten) {
  ASSERT_EQ(Call(L"setChannel", DISPATCH_METHOD, ScriptArgs().Text(L"beta")), S_OK);
  EXPECT_EQ(app_->context().Channel(), L"beta");
  EXPECT_EQ(Setting(L"channel"), L"beta");
  EXPECT_TRUE(LogHasLine("EMSetChannel: beta"));
}

// The machine's version and architecture are injected; checkOS reads the
// version the compatibility layer leaves alone.
TEST_F(SettingsMethodsTest, CheckOSComparesTheTrueVersionWithTheNamedMinimum) {
  const struct {
    const wchar_t* minimum;
    const wchar_t* bits;
    const wchar_t* machine;
    sysinfo::VersionNumbers system;
    bool valid;
  } cases[] = {
      {L"Windows 8.1", L"x86", L"x64", {10, 0, 19045}, true},
      {L"Windows 8.1", L"x86", L"x64", {6, 2, 9200}, false},
      {L"Windows 8.1", L"x86", L"x64", {6, 3, 9600}, true},
      {L"Windows 10", L"x64", L"x64", {10, 0, 10240}, true},
      {L"Windows 10", L"X64", L"X64", {6, 3, 9600}, false},
      {L"Windows 11", L"x86", L"x86", {6, 1, 7601}, true},   // unknown names require 6.1
      {L"Windows 11", L"x86", L"x86", {6, 0, 6002}, false},
      {L"windows 10", L"x86", L"x86", {6, 1, 7601}, true},   // names are compared with their case
      {L"Windows 7 SP1", L"", L"x86", {6, 1, 7600}, true},
      {L"Windows XP", L"x86", L"x86", {5, 1, 2600}, true},
      {L"Windows Vista", L"x86", L"x86", {5, 2, 3790}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(base::ToAnsi(std::wstring(c.minimum) + L" " + c.bits + L" on " + c.machine) + " " +
                 std::to_string(c.system.major) + "." + std::to_string(c.system.minor));
    testsupport::FakeFacts facts;
    facts.true_version = c.system;
    host_->facts_override = &facts;
    host_->machine_bits = c.machine;
    EXPECT_EQ(Bool(L"checkOS", std::move(ScriptArgs().Text(c.minimum).Text(c.bits))), c.valid);
  }
  EXPECT_TRUE(LogHasLine("EMCheckOS Result : OS valid"));
  EXPECT_TRUE(LogHasLine("EMCheckOS Result : OS invalid"));
  EXPECT_EQ(app_->context().properties().entries().count(L"OSBitNotSupport"), 0u);
}

TEST_F(SettingsMethodsTest, CheckOSRefusesA64BitRequirementOnA32BitMachineWhateverItsVersion) {
  testsupport::FakeFacts facts;
  facts.true_version = {10, 0, 19045};
  host_->facts_override = &facts;
  host_->machine_bits = L"X86";
  EXPECT_FALSE(Bool(L"checkOS", std::move(ScriptArgs().Text(L"Windows 10").Text(L"x64"))));
  EXPECT_EQ(Prop(L"OSBitNotSupport"), L"true");
  EXPECT_TRUE(LogHasLine("EMCheckOS Result : OS invalid"));
}

TEST_F(SettingsMethodsTest, OSVersionIsTheReportedMajorAndMinor) {
  testsupport::FakeFacts facts;
  facts.reported = {6, 2, VER_NT_WORKSTATION};
  facts.true_version = {10, 0, 19045};  // not this one
  host_->facts_override = &facts;
  base::UniqueVariant version;
  ASSERT_EQ(Call(L"getOSVersion", DISPATCH_METHOD, ScriptArgs(), version.Receive()), S_OK);
  ASSERT_EQ(version.Type(), VT_BSTR);
  EXPECT_STREQ(version.Get()->bstrVal, L"6.2");
}

}  // namespace
}  // namespace stubframework::externalmethods
