// The method table as the bridge and the script engine reach it: names,
// order, and the dispatch checks every handler applies.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "base/bstr.h"
#include "externalmethods/external_methods.h"
#include "externalmethods/method_signature.h"
#include "externalmethods/product/my_external_methods.h"
#include "htmlui/bridge_test_support.h"
#include "htmlui/html_external.h"

namespace stubframework::externalmethods {
namespace {

using testsupport::AppFixture;
using testsupport::ScriptArgs;

// Every script name with how it must be called, written down separately from
// the product's table: m = method call only (flags 1), g = method call that is
// also a property read (flags 3), u = unchecked. Arguments: T text, I integer,
// B boolean, F page function.
struct Expected {
  const wchar_t* name;
  char kind;
  const char* args;
};

const Expected kExpected[] = {
    {L"download", 'm', "TTTBBF"},
    {L"isDestReadOnly", 'g', "T"},
    {L"stopDownload", 'm', ""},
    {L"install", 'm', "TTTIF"},
    {L"closeWindow", 'm', ""},
    {L"minimizeWindow", 'm', ""},
    {L"dragWindow", 'm', ""},
    {L"hideWindow", 'm', ""},
    {L"showWindow", 'm', ""},
    {L"terminateWindow", 'm', ""},
    {L"selectFolder", 'g', "T"},
    {L"startProgram", 'm', "TT"},
    {L"messageBox", 'm', "TT"},
    {L"messageBoxExit", 'm', "TT"},
    {L"messageBoxCancel", 'm', "TT"},
    {L"messageBoxError", 'm', "TT"},
    {L"restartSystem", 'm', "TT"},
    {L"restartSystemNoMsg", 'm', ""},
    {L"deleteRegKey", 'm', "TB"},
    {L"runAfterReboot", 'm', "T"},
    {L"undoRunAfterReboot", 'm', ""},
    {L"setWindowSize", 'm', "II"},
    {L"setProperty", 'm', "TT"},
    {L"setLang", 'm', "I"},
    {L"setInstallStatus", 'm', "I"},
    {L"setChannel", 'm', "T"},
    {L"setDataToReg", 'm', "TTTB"},
    {L"isFileExists", 'g', "T"},
    {L"isSkipSelfUpdate", 'm', ""},
    {L"isNeedSelfUpdate", 'g', "T"},
    {L"isSilentLaunchStub", 'm', ""},
    {L"selfUpdate", 'm', "TF"},
    {L"createDirectory", 'g', "T"},
    {L"initDownloadSize", 'm', "TTB"},
    {L"trackUserActivity", 'm', "T"},
    {L"openPage", 'g', "T"},
    {L"runApplication", 'g', "T"},
    {L"executeCommand", 'g', "T"},
    {L"updateInstallerList", 'm', "TTBBF"},
    {L"startRegApps", 'm', ""},
    {L"searchRegKey", 'g', "BTTT"},
    {L"getProperty", 'g', "T"},
    {L"getDiskAvailableSpace", 'g', "T"},
    {L"getOSLang", 'm', ""},
    {L"getLanguageByID", 'g', "I"},
    {L"getParsedInstallLanguage", 'g', "T"},
    {L"getFileVersion", 'g', "TT"},
    {L"getDataFromReg", 'g', "TT"},
    {L"getCrc", 'g', "T"},
    {L"getOSVersion", 'm', ""},
    {L"getResumeMode", 'm', ""},
    {L"getResourceLocation", 'm', ""},
    {L"getCurrentPath", 'm', ""},
    {L"getDesktopPath", 'm', ""},
    {L"getTempPath", 'g', "T"},
    {L"getBaseRegKey", 'm', ""},
    {L"getFileSize", 'g', "T"},
    {L"getLastInstallError", 'm', ""},
    {L"checkOS", 'g', "TT"},
    {L"getMachineId", 'm', ""},
    {L"setUninstallRegistryFromStub", 'm', "TB"},
    {L"isUninstallModeLaunch", 'm', ""},
    {L"confirmMessageBox", 'g', "TT"},
    {L"removeProgram", 'm', "TBTF"},
    {L"repairProgram", 'm', "TTF"},
    {L"verifyFileInSpecialDirectory", 'm', "TTF"},
    {L"cancelVerifyThread", 'm', ""},
    {L"isInEmbargoedCountry", 'm', ""},
    {L"isInternetConnected", 'm', ""},
    {L"getDownloadTimeProp", 'm', ""},
    {L"manageDesktopShortcut", 'm', "TB"},
    {L"isNET46Installed", 'g', "T"},
    {L"isWindows7GM", 'u', ""},
    {L"isWindows8GM", 'u', ""},
    {L"isWindows10", 'u', ""},
    {L"isWindows7", 'u', ""},
    {L"isWindows8", 'u', ""},
    {L"isGreaterThanWindows10", 'u', ""},
    {L"isIE8", 'u', ""},
    {L"CheckMinSys", 'u', ""},
    {L"isRequireReboot", 'u', ""},
    {L"removeRebootKey", 'u', ""},
    {L"isLowRes", 'u', ""},
    {L"GetUrlOSVersion", 'u', ""},
    {L"GetGAPostURL", 'm', "T"},
};

VARTYPE TypeOf(char code) {
  switch (code) {
    case 'T': return VT_BSTR;
    case 'I': return VT_I4;
    case 'B': return VT_BOOL;
    default: return VT_DISPATCH;
  }
}

// Some other accepted type, to put in the wrong place.
VARTYPE WrongTypeFor(VARTYPE type) { return type == VT_BSTR ? VT_I4 : VT_BSTR; }

// The product table attached to the application's bridge, called through the
// bridge exactly as the script engine calls it.
class MethodTableTest : public AppFixture {
 protected:
  void SetUp() override {
    AppFixture::SetUp();
    if (HasFatalFailure()) return;
    methods_ = std::make_unique<externalmethods::MyExternalMethods>(app_.get());
    ASSERT_TRUE(app_->external()->AttachMethods(methods_.get()));
  }
  void TearDown() override {
    AppFixture::TearDown();
    methods_.reset();
  }

  DISPID IdOf(const wchar_t* name) {
    DISPID id = DISPID_UNKNOWN;
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    EXPECT_EQ(app_->external_dispatch()->GetIDsOfNames(IID_NULL, names, 1, 0, &id), S_OK) << name;
    return id;
  }
  HRESULT Call(const wchar_t* name, WORD flags, DISPPARAMS* params, VARIANT* result = nullptr) {
    return app_->external_dispatch()->Invoke(IdOf(name), IID_NULL, 0, flags, params, result, nullptr, nullptr);
  }
  HRESULT Call(const wchar_t* name, WORD flags, ScriptArgs& args, VARIANT* result = nullptr) {
    return Call(name, flags, args.params(), result);
  }
  HRESULT Call(const wchar_t* name, WORD flags, ScriptArgs&& args, VARIANT* result = nullptr) {
    return Call(name, flags, args.params(), result);
  }

  std::unique_ptr<externalmethods::MyExternalMethods> methods_;
};

TEST_F(MethodTableTest, RegistersExactlyTheExpectedNamesInTheirListOrder) {
  ASSERT_EQ(std::size(kExpected), kMethodCount);
  EXPECT_EQ(methods_->Count(), kMethodCount);
  for (size_t row = 0; row < kMethodCount; ++row) {
    EXPECT_STREQ(MethodRow(row).name, kExpected[row].name) << "row " << row;
  }
}

TEST_F(MethodTableTest, EverySignatureMatchesTheIndependentList) {
  for (size_t row = 0; row < kMethodCount; ++row) {
    const Expected& want = kExpected[row];
    const MethodSignature& got = MethodRow(row);
    SCOPED_TRACE(::testing::Message() << "method " << row);
    CallKind kind = want.kind == 'm' ? CallKind::kMethod : want.kind == 'g' ? CallKind::kMethodGet
                                                                            : CallKind::kUnchecked;
    EXPECT_EQ(got.call, kind);
    ASSERT_EQ(got.arity(), static_cast<int>(strlen(want.args)));
    for (int i = 0; i < got.arity(); ++i) EXPECT_EQ(got.args[i], TypeOf(want.args[i])) << "argument " << i;
  }
}

// Drives every checked method through the bridge with each kind of wrong call;
// none of them may reach the method's work.
TEST_F(MethodTableTest, EveryCheckedMethodRefusesWrongKindCountNamedArgumentsAndTypes) {
  for (const Expected& want : kExpected) {
    if (want.kind == 'u') continue;
    SCOPED_TRACE(::testing::Message() << "method " << base::ToAnsi(want.name));
    WORD right = want.kind == 'm' ? 1 : 3;
    WORD wrong_kinds[] = {static_cast<WORD>(right == 1 ? 3 : 1), DISPATCH_PROPERTYGET, DISPATCH_PROPERTYPUT, 0};
    for (WORD flags : wrong_kinds) {
      ScriptArgs args;
      for (const char* a = want.args; *a; ++a) args.Of(TypeOf(*a));
      EXPECT_EQ(Call(want.name, flags, args), DISP_E_MEMBERNOTFOUND) << "flags " << flags;
    }
    ScriptArgs too_many;
    for (const char* a = want.args; *a; ++a) too_many.Of(TypeOf(*a));
    too_many.Int(0);
    EXPECT_EQ(Call(want.name, right, too_many), DISP_E_BADPARAMCOUNT);
    if (*want.args != '\0') {
      ScriptArgs too_few;
      for (const char* a = want.args + 1; *a; ++a) too_few.Of(TypeOf(*a));
      EXPECT_EQ(Call(want.name, right, too_few), DISP_E_BADPARAMCOUNT);
    }
    ScriptArgs named;
    for (const char* a = want.args; *a; ++a) named.Of(TypeOf(*a));
    DISPID name_ids[] = {0};
    if (*want.args != '\0') {
      EXPECT_EQ(Call(want.name, right, named.params(name_ids, 1)), DISP_E_BADPARAMCOUNT);
    }

    if (std::wstring(want.name) == L"runApplication") continue;  // reads its argument as text, unchecked
    size_t arity = strlen(want.args);
    for (size_t bad = 0; bad < arity; ++bad) {
      ScriptArgs args;
      for (size_t i = 0; i < arity; ++i) {
        VARTYPE type = TypeOf(want.args[i]);
        args.Of(i == bad ? WrongTypeFor(type) : type);
      }
      EXPECT_EQ(Call(want.name, right, args), DISP_E_TYPEMISMATCH) << "wrong argument " << bad;
    }
  }
}

TEST_F(MethodTableTest, UncheckedMethodsTakeAnyFlagsAndArguments) {
  for (const Expected& want : kExpected) {
    if (want.kind != 'u') continue;
    SCOPED_TRACE(::testing::Message() << "method " << base::ToAnsi(want.name));
    base::UniqueVariant result;
    HRESULT hr = Call(want.name, DISPATCH_PROPERTYGET, ScriptArgs().Double(1.5), result.Receive());
    EXPECT_NE(hr, DISP_E_MEMBERNOTFOUND);
    EXPECT_NE(hr, DISP_E_BADPARAMCOUNT);
    EXPECT_NE(hr, DISP_E_TYPEMISMATCH);
  }
}

// The dispatcher answers E_NOTIMPL for a row without a body, once the checks
// have passed: no name a page may call may be left so.
TEST_F(MethodTableTest, NoMethodAnswersNotImplemented) {
  for (size_t row = 0; row < kMethodCount; ++row) {
    const MethodSignature& method = MethodRow(row);
    if (method.body != nullptr) continue;
    ScriptArgs args;
    for (int i = 0; i < method.arity(); ++i) args.Of(method.args[i]);
    WORD flags = method.call == CallKind::kUnchecked ? DISPATCH_METHOD : static_cast<WORD>(method.call);
    base::UniqueVariant result;
    EXPECT_EQ(Call(method.name, flags, args, result.Receive()), E_NOTIMPL) << base::ToAnsi(method.name);
    ADD_FAILURE() << base::ToAnsi(method.name) << " has no body";
  }
}

TEST_F(MethodTableTest, EnumeratesInCodeUnitOrderAndRefusesASmallArray) {
  std::vector<ExternalMethods::Entry> entries(kMethodCount + 1, ExternalMethods::Entry{L"sentinel", nullptr});
  EXPECT_FALSE(methods_->Enumerate(entries.data(), kMethodCount - 1));
  EXPECT_STREQ(entries[0].name, L"sentinel") << "a refused enumeration writes nothing";

  ASSERT_TRUE(methods_->Enumerate(entries.data(), kMethodCount));
  EXPECT_STREQ(entries[kMethodCount].name, L"sentinel");
  const wchar_t* first[] = {L"CheckMinSys", L"GetGAPostURL", L"GetUrlOSVersion",
                            L"cancelVerifyThread", L"checkOS", L"closeWindow"};
  for (size_t i = 0; i < std::size(first); ++i) EXPECT_STREQ(entries[i].name, first[i]);
  for (size_t i = 1; i < kMethodCount; ++i) {
    EXPECT_LT(std::wstring(entries[i - 1].name), std::wstring(entries[i].name));
  }
  // The bridge hands out identifiers from the same order.
  EXPECT_EQ(IdOf(L"CheckMinSys"), 1);
  EXPECT_EQ(IdOf(L"closeWindow"), 6);
}

TEST_F(MethodTableTest, ASecondRegistrationReplacesTheFirst) {
  ExternalMethods::Entry before[kMethodCount];
  ASSERT_TRUE(methods_->Enumerate(before, kMethodCount));
  ExternalMethods::Handler close_handler = nullptr;
  ExternalMethods::Handler get_handler = nullptr;
  for (const auto& entry : before) {
    if (std::wstring(entry.name) == L"closeWindow") close_handler = entry.handler;
    if (std::wstring(entry.name) == L"getProperty") get_handler = entry.handler;
  }
  methods_->Register(L"closeWindow", get_handler);
  EXPECT_EQ(methods_->Count(), kMethodCount);
  ExternalMethods::Entry after[kMethodCount];
  ASSERT_TRUE(methods_->Enumerate(after, kMethodCount));
  for (const auto& entry : after) {
    if (std::wstring(entry.name) == L"closeWindow") {
      EXPECT_TRUE(entry.handler == get_handler);
    }
  }
  EXPECT_FALSE(close_handler == get_handler);
}

TEST_F(MethodTableTest, SetPropertyWithOneArgumentIsABadCount) {
  EXPECT_EQ(Call(L"setProperty", DISPATCH_METHOD, ScriptArgs().Text(L"a")), DISP_E_BADPARAMCOUNT);
}

TEST_F(MethodTableTest, SetPropertyWithAnIntegerValueIsRefusedAndLogsWhere) {
  EXPECT_EQ(Call(L"setProperty", DISPATCH_METHOD, ScriptArgs().Text(L"a").Int(1)), DISP_E_TYPEMISMATCH);
  EXPECT_TRUE(LogHasLine("CheckParamTypes -- DISP_E_TYPEMISMATCH position 0, received 3, expected 8")) << LogText();
  EXPECT_TRUE(app_->context().properties().entries().count(L"a") == 0) << "nothing was stored";
}

TEST_F(MethodTableTest, NoCoercionOfFractionsShortIntegersNullOrTextByReference) {
  EXPECT_EQ(Call(L"setWindowSize", DISPATCH_METHOD, ScriptArgs().Double(100.5).Int(200)), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(Call(L"setLang", DISPATCH_METHOD, ScriptArgs().OfType(VT_I2)), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(Call(L"setProperty", DISPATCH_METHOD, ScriptArgs().Text(L"a").OfType(VT_NULL)), DISP_E_TYPEMISMATCH);
  base::UniqueBstr text(L"value");
  BSTR raw = text.Get();
  EXPECT_EQ(Call(L"setProperty", DISPATCH_METHOD, ScriptArgs().Text(L"a").TextByRef(&raw)), DISP_E_TYPEMISMATCH);
  EXPECT_TRUE(LogHasLine("CheckParamTypes -- DISP_E_TYPEMISMATCH position 0, received 16392, expected 8"));
}

TEST_F(MethodTableTest, InvocationKindIsComparedExactly) {
  EXPECT_EQ(Call(L"closeWindow", DISPATCH_METHOD | DISPATCH_PROPERTYGET, ScriptArgs()), DISP_E_MEMBERNOTFOUND);
  base::UniqueVariant result;
  EXPECT_EQ(Call(L"getProperty", DISPATCH_METHOD, ScriptArgs().Text(L"a"), result.Receive()), DISP_E_MEMBERNOTFOUND);
}

TEST_F(MethodTableTest, CheckParamTypesLogsACountMismatch) {
  ScriptArgs args;
  args.Text(L"a");
  const VARTYPE expected[] = {VT_BSTR, VT_BSTR};
  EXPECT_EQ(methods_->CheckParamTypes(args.params(), expected, 2), DISP_E_BADPARAMCOUNT);
  EXPECT_TRUE(LogHasLine("CheckParamTypes -- DISP_E_BADPARAMCOUNT"));
  EXPECT_EQ(methods_->CheckParamTypes(args.params(), expected, 1), S_OK);
}

TEST_F(MethodTableTest, CheckParamTypesWalksFromTheLastScriptArgument) {
  ScriptArgs args;
  args.Int(7).Text(L"b");  // in the block: [0] = "b", [1] = 7
  const VARTYPE expected[] = {VT_BSTR, VT_BSTR};
  EXPECT_EQ(methods_->CheckParamTypes(args.params(), expected, 2), DISP_E_TYPEMISMATCH);
  EXPECT_TRUE(LogHasLine("CheckParamTypes -- DISP_E_TYPEMISMATCH position 1, received 3, expected 8"));
}

TEST_F(MethodTableTest, SetPropertyStoresAndLogsValueThenName) {
  EXPECT_EQ(Call(L"setProperty", DISPATCH_METHOD, ScriptArgs().Text(L"downloadUrl").Text(L"http://x/")), S_OK);
  EXPECT_EQ(app_->external()->GetProperty(L"downloadUrl"), L"http://x/");
  std::string log = LogText();
  size_t tag = log.find("] EMSetProperty\n");
  size_t line = log.find("] EMSetProperty http://x/, downloadUrl\n");
  ASSERT_NE(tag, std::string::npos) << log;
  ASSERT_NE(line, std::string::npos) << log;
  EXPECT_LT(tag, line);
}

TEST_F(MethodTableTest, GetPropertyReturnsACallerOwnedTextAndEmptyForUnknownNames) {
  app_->external()->SetProperty(L"Country", L"DE");
  base::UniqueVariant result;
  ASSERT_EQ(Call(L"getProperty", DISPATCH_METHOD | DISPATCH_PROPERTYGET, ScriptArgs().Text(L"Country"),
                 result.Receive()),
            S_OK);
  ASSERT_EQ(result.Type(), VT_BSTR);
  EXPECT_STREQ(result.Get()->bstrVal, L"DE");
  ASSERT_EQ(Call(L"getProperty", 3, ScriptArgs().Text(L"country"), result.Receive()), S_OK);
  ASSERT_EQ(result.Type(), VT_BSTR);
  EXPECT_EQ(SysStringLen(result.Get()->bstrVal), 0u) << "names are case-sensitive";
}

TEST_F(MethodTableTest, AMethodWithAResultDoesNothingWhenNobodyTakesIt) {
  EXPECT_EQ(Call(L"getProperty", 3, ScriptArgs().Text(L"neverAsked")), S_OK);
  EXPECT_EQ(app_->context().properties().entries().count(L"neverAsked"), 0u) << "the read did not happen";
  // Owed methods too: without a result slot they stop before their work.
  EXPECT_EQ(Call(L"openPage", 3, ScriptArgs().Text(L"http://127.0.0.1/")), S_OK);
  EXPECT_FALSE(LogHasLine("EMOpenPage"));
  // Except the one that shows its box in any case (none here: no window is shown).
  EXPECT_EQ(Call(L"confirmMessageBox", 3, ScriptArgs().Text(L"m").Text(L"c")), S_OK);
  EXPECT_TRUE(LogHasLine("EMConfirmMessageBox Result : Close"));
}

TEST_F(MethodTableTest, TagsAreLoggedWhereEachMethodLogsThem) {
  // Logged on entry: even a refused call leaves the tag.
  EXPECT_EQ(Call(L"setProperty", DISPATCH_PROPERTYGET, ScriptArgs()), DISP_E_MEMBERNOTFOUND);
  EXPECT_TRUE(LogHasLine("EMSetProperty"));
  EXPECT_EQ(Call(L"stopDownload", 3, ScriptArgs()), DISP_E_MEMBERNOTFOUND);
  EXPECT_TRUE(LogHasLine("EMStopDownload"));
  // Logged once the checks pass.
  EXPECT_EQ(Call(L"getCrc", DISPATCH_METHOD, ScriptArgs().Text(L"f")), DISP_E_MEMBERNOTFOUND);
  EXPECT_FALSE(LogHasLine("EMGetCRC"));
  base::UniqueVariant result;
  EXPECT_EQ(Call(L"getCrc", 3, ScriptArgs().Text(L"f"), result.Receive()), S_OK);
  EXPECT_TRUE(LogHasLine("EMGetCRC"));
  // Logged after the checks but before the result slot is looked at.
  EXPECT_EQ(Call(L"runApplication", 3, ScriptArgs().Text(L"cmd")), S_OK);
  EXPECT_TRUE(LogHasLine("EMRunApplication"));
}

TEST_F(MethodTableTest, ResourceLocationReadsWhatStartUpStored) {
  app_->external()->SetProperty(L"resourceLocation", L"C:\\temp\\1A2B\\");
  base::UniqueVariant result;
  ASSERT_EQ(Call(L"getResourceLocation", DISPATCH_METHOD, ScriptArgs(), result.Receive()), S_OK);
  ASSERT_EQ(result.Type(), VT_BSTR);
  EXPECT_STREQ(result.Get()->bstrVal, L"C:\\temp\\1A2B\\");
}

}  // namespace
}  // namespace stubframework::externalmethods
