// The registry script methods as a page calls them through the bridge.
#include <gtest/gtest.h>

#include "base/bstr.h"
#include "externalmethods/product/my_external_methods.h"
#include "htmlui/bridge_test_support.h"
#include "htmlui/html_external.h"

namespace stubframework::externalmethods {
namespace {

using testsupport::AppFixture;
using testsupport::ScriptArgs;

const wchar_t kTestKey[] = L"HKLM\\SOFTWARE\\BrelvoRegistryMethodsTest";

void DeleteTestKeys() {
  for (REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) {
    HKEY software;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE", 0, KEY_ALL_ACCESS | view, &software) == ERROR_SUCCESS) {
      RegDeleteTreeW(software, L"BrelvoRegistryMethodsTest");
      RegCloseKey(software);
    }
  }
}

class RegistryMethodsTest : public AppFixture {
 protected:
  void SetUp() override {
    DeleteTestKeys();
    AppFixture::SetUp();
    if (HasFatalFailure()) return;
    methods_ = std::make_unique<externalmethods::MyExternalMethods>(app_.get());
    app_->external()->AttachMethods(methods_.get());
  }
  void TearDown() override {
    methods_.reset();
    AppFixture::TearDown();
    DeleteTestKeys();
  }

  HRESULT Call(const wchar_t* name, WORD flags, ScriptArgs&& args, VARIANT* result = nullptr) {
    OLECHAR* names[] = {const_cast<OLECHAR*>(name)};
    DISPID id = 0;
    EXPECT_EQ(app_->external_dispatch()->GetIDsOfNames(IID_NULL, names, 1, 0, &id), S_OK);
    return app_->external_dispatch()->Invoke(id, IID_NULL, 0, flags, args.params(), result, nullptr, nullptr);
  }

  std::wstring GetData(const std::wstring& key, const wchar_t* name) {
    base::UniqueVariant result;
    EXPECT_EQ(Call(L"getDataFromReg", DISPATCH_METHOD | DISPATCH_PROPERTYGET,
                   std::move(ScriptArgs().Text(key.c_str()).Text(name)), result.Receive()),
              S_OK);
    return result.Get()->vt == VT_BSTR ? std::wstring(result.Get()->bstrVal) : L"<not text>";
  }

  std::unique_ptr<externalmethods::MyExternalMethods> methods_;
};

TEST_F(RegistryMethodsTest, SetThenGetThroughShortAndLongRootNames) {
  std::wstring key = std::wstring(kTestKey) + L"\\Levels\\Below";
  ASSERT_EQ(Call(L"setDataToReg", DISPATCH_METHOD,
                 std::move(ScriptArgs().Text(key.c_str()).Text(L"skipAcceptedEula").Text(L"true").Bool(true))),
            S_OK);
  EXPECT_TRUE(LogHasLine("EMSetDataToReg"));
  EXPECT_TRUE(LogHasLine("EMSetDataToReg -1, true, skipAcceptedEula, " + base::ToAnsi(key)));
  EXPECT_EQ(GetData(L"HKEY_LOCAL_MACHINE\\SOFTWARE\\BrelvoRegistryMethodsTest\\Levels\\Below", L"skipAcceptedEula"),
            L"true");
  EXPECT_TRUE(LogHasLine("EMGetDataFromReg args skipAcceptedEula " +
                         base::ToAnsi(L"HKEY_LOCAL_MACHINE\\SOFTWARE\\BrelvoRegistryMethodsTest\\Levels\\Below") +
                         ", Result true"));
}

TEST_F(RegistryMethodsTest, DwordAllOnesReadsAsMinusOneAndAbsentAsEmpty) {
  HKEY key;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\BrelvoRegistryMethodsTest", 0, nullptr, 0,
                            KEY_ALL_ACCESS | KEY_WOW64_32KEY, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  DWORD all_ones = 4294967295u;
  RegSetValueExW(key, L"dw", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&all_ones), sizeof(all_ones));
  RegCloseKey(key);
  EXPECT_EQ(GetData(kTestKey, L"dw"), L"-1");
  EXPECT_EQ(GetData(kTestKey, L"absent"), L"");
  EXPECT_EQ(GetData(L"HKNOPE\\SOFTWARE", L"dw"), L"");
}

TEST_F(RegistryMethodsTest, DeleteRefusesAKeyWithSubkeysAndLogsTheFlag) {
  std::wstring parent = std::wstring(kTestKey) + L"\\Parent";
  Call(L"setDataToReg", DISPATCH_METHOD,
       std::move(ScriptArgs().Text((parent + L"\\Child").c_str()).Text(L"v").Text(L"1").Bool(false)));
  ASSERT_EQ(Call(L"deleteRegKey", DISPATCH_METHOD, std::move(ScriptArgs().Text(parent.c_str()).Bool(false))), S_OK);
  EXPECT_EQ(GetData(parent + L"\\Child", L"v"), L"1");
  EXPECT_TRUE(LogHasLine("EMDeleteRegKey 0, " + base::ToAnsi(parent)));
  Call(L"deleteRegKey", DISPATCH_METHOD, std::move(ScriptArgs().Text((parent + L"\\Child").c_str()).Bool(false)));
  EXPECT_EQ(GetData(parent + L"\\Child", L"v"), L"");
}

TEST_F(RegistryMethodsTest, SearchAnswersWithTheSuffixRuleAndLogsItsArguments) {
  std::wstring vendor = std::wstring(kTestKey) + L"\\Vendor";
  Call(L"setDataToReg", DISPATCH_METHOD,
       std::move(ScriptArgs().Text((vendor + L"\\Other\\product\\13").c_str()).Text(L"InstallDir").Text(L"C:\\P")
                     .Bool(false)));
  base::UniqueVariant found;
  ASSERT_EQ(Call(L"searchRegKey", DISPATCH_METHOD | DISPATCH_PROPERTYGET,
                 std::move(ScriptArgs().Bool(false).Text(vendor.c_str()).Text(L"Product\\12;Product\\13")
                               .Text(L"InstallDir")),
                 found.Receive()),
            S_OK);
  ASSERT_EQ(found.Get()->vt, VT_BOOL);
  EXPECT_EQ(found.Get()->boolVal, VARIANT_TRUE);
  EXPECT_TRUE(LogHasLine("EMSearchRegKey 0 " + base::ToAnsi(vendor) + " Product\\12;Product\\13 InstallDir"));

  base::UniqueVariant missing;
  Call(L"searchRegKey", DISPATCH_METHOD | DISPATCH_PROPERTYGET,
       std::move(ScriptArgs().Bool(false).Text(vendor.c_str()).Text(L";;").Text(L"InstallDir")), missing.Receive());
  ASSERT_EQ(missing.Get()->vt, VT_BOOL);
  EXPECT_EQ(missing.Get()->boolVal, VARIANT_FALSE);
}

TEST_F(RegistryMethodsTest, BaseKeyEndsInProductAndMajorVersion) {
  base::UniqueVariant result;
  ASSERT_EQ(Call(L"getBaseRegKey", DISPATCH_METHOD, ScriptArgs(), result.Receive()), S_OK);
  ASSERT_EQ(result.Get()->vt, VT_BSTR);
  EXPECT_STREQ(result.Get()->bstrVal, L"HKEY_CURRENT_USER\\SOFTWARE\\Brelvo\\stubframework\\Tessary\\22");
  EXPECT_TRUE(LogHasLine("EMGetBaseRegKey"));
  EXPECT_TRUE(LogHasLine("EMGetBaseRegKey HKEY_CURRENT_USER\\SOFTWARE\\Brelvo\\stubframework\\Tessary\\22"));
}

}  // namespace
}  // namespace stubframework::externalmethods
