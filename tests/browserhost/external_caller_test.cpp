// The browser host's script-engine side against the real bridge and method
// table: names resolved through IDispatchEx, calls made with the flags the
// engine would use, expandos written with fdexNameEnsure.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "base/variant.h"
#include "externalmethods/product/my_external_methods.h"
#include "htmlui/bridge_test_support.h"
#include "browserhost/external_caller.h"
#include "htmlui/html_external.h"

namespace stubframework::browserhost {
namespace {

using base::UniqueVariant;
using testsupport::AppFixture;
using testsupport::RecordingFunction;

// Script-order arguments that clear themselves.
class Args {
 public:
  ~Args() {
    for (VARIANT& v : items_) ::VariantClear(&v);
  }
  Args& Text(const wchar_t* text) {
    VARIANT v;
    v.vt = VT_BSTR;
    v.bstrVal = ::SysAllocString(text);
    items_.push_back(v);
    return *this;
  }
  Args& Int(LONG value) {
    VARIANT v;
    v.vt = VT_I4;
    v.lVal = value;
    items_.push_back(v);
    return *this;
  }
  std::vector<VARIANT>* get() { return &items_; }

 private:
  std::vector<VARIANT> items_;
};

class ExternalCallerTest : public AppFixture {
 protected:
  void SetUp() override {
    AppFixture::SetUp();
    if (HasFatalFailure()) return;
    methods_ = std::make_unique<externalmethods::MyExternalMethods>(app_.get());
    ASSERT_TRUE(app_->external()->AttachMethods(methods_.get()));
    caller_ = std::make_unique<ExternalCaller>(app_->external_dispatch());
  }
  void TearDown() override {
    caller_.reset();
    AppFixture::TearDown();
    methods_.reset();
  }
  size_t CountInLog(const std::string& text) const {
    std::string log = LogText();
    size_t count = 0;
    for (size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1)) ++count;
    return count;
  }

  std::unique_ptr<externalmethods::MyExternalMethods> methods_;
  std::unique_ptr<ExternalCaller> caller_;
};

TEST_F(ExternalCallerTest, MethodsAreCalledWithTheFlagsTheirSignaturesAccept) {
  // setProperty takes flags 1 and no result; getProperty flags 3 with one.
  Args set;
  set.Text(L"colour").Text(L"blue");
  UniqueVariant ignored;
  ASSERT_EQ(caller_->Call(L"setProperty", set.get(), ignored.Get()), S_OK);
  EXPECT_EQ(app_->external()->GetProperty(L"colour"), L"blue");
  // The first attempt must not have done the work twice or logged it twice.
  EXPECT_EQ(CountInLog("EMSetProperty blue, colour"), 1u);

  Args get;
  get.Text(L"colour");
  UniqueVariant value;
  ASSERT_EQ(caller_->Call(L"getProperty", get.get(), value.Get()), S_OK);
  ASSERT_EQ(value.Type(), VT_BSTR);
  EXPECT_EQ(std::wstring(value.Get()->bstrVal), L"blue");

  // No arguments: a plain method call that takes the result.
  Args none;
  app_->external()->SetProperty(L"resourceLocation", L"C:\\bundle\\");
  ASSERT_EQ(caller_->Call(L"getResourceLocation", none.get(), value.Receive()), S_OK);
  EXPECT_EQ(std::wstring(value.Get()->bstrVal), L"C:\\bundle\\");
}

TEST_F(ExternalCallerTest, WrongArgumentsAndUnknownNamesFailAsTheyWouldInScript) {
  Args wrong_type;
  wrong_type.Text(L"a").Int(1);
  UniqueVariant result;
  EXPECT_EQ(caller_->Call(L"setProperty", wrong_type.get(), result.Get()), DISP_E_TYPEMISMATCH);
  Args wrong_count;
  wrong_count.Text(L"a");
  EXPECT_EQ(caller_->Call(L"setProperty", wrong_count.get(), result.Get()), DISP_E_BADPARAMCOUNT);
  Args none;
  // Without arguments the engine calls a plain method, which getProperty is not.
  EXPECT_EQ(caller_->Call(L"getProperty", none.get(), result.Get()), DISP_E_MEMBERNOTFOUND);
  EXPECT_EQ(caller_->Call(L"noSuchMethod", none.get(), result.Get()), DISP_E_UNKNOWNNAME);
  // Names are case-sensitive, as the engine asks for them.
  EXPECT_EQ(caller_->Call(L"GetProperty", wrong_count.get(), result.Get()), DISP_E_UNKNOWNNAME);
}

TEST_F(ExternalCallerTest, ReadsTellMethodsValuesAndMissingNamesApart) {
  ExternalCaller::Kind kind;
  UniqueVariant value;
  ASSERT_EQ(caller_->Get(L"getProperty", &kind, value.Get()), S_OK);
  EXPECT_EQ(kind, ExternalCaller::Kind::kMethod);
  ASSERT_EQ(caller_->Get(L"nothingHere", &kind, value.Receive()), S_OK);
  EXPECT_EQ(kind, ExternalCaller::Kind::kMissing);
  // Reading does not create the member.
  ASSERT_EQ(caller_->Get(L"nothingHere", &kind, value.Receive()), S_OK);
  EXPECT_EQ(kind, ExternalCaller::Kind::kMissing);
  EXPECT_EQ(app_->external()->expandos().count(), 0);
}

TEST_F(ExternalCallerTest, ExpandosAreWrittenReadAndDeleted) {
  UniqueVariant five;
  five.SetInt(5);
  ASSERT_EQ(caller_->Put(L"answer", five.Get()), S_OK);
  ExternalCaller::Kind kind;
  UniqueVariant value;
  ASSERT_EQ(caller_->Get(L"answer", &kind, value.Get()), S_OK);
  EXPECT_EQ(kind, ExternalCaller::Kind::kValue);
  EXPECT_EQ(value.Type(), VT_I4);
  EXPECT_EQ(value.Get()->lVal, 5);

  EXPECT_EQ(caller_->Delete(L"answer"), S_OK);
  ASSERT_EQ(caller_->Get(L"answer", &kind, value.Receive()), S_OK);
  EXPECT_EQ(kind, ExternalCaller::Kind::kMissing);
  // Writing it again revives it.
  UniqueVariant text;
  text.SetText(L"again");
  ASSERT_EQ(caller_->Put(L"answer", text.Get()), S_OK);
  ASSERT_EQ(caller_->Get(L"answer", &kind, value.Receive()), S_OK);
  EXPECT_EQ(std::wstring(value.Get()->bstrVal), L"again");

  // Methods cannot be deleted or overwritten.
  EXPECT_EQ(caller_->Delete(L"getProperty"), S_FALSE);
  EXPECT_EQ(caller_->Put(L"getProperty", text.Get()), DISP_E_MEMBERNOTFOUND);
}

TEST_F(ExternalCallerTest, CallingAnExpandoCallsTheFunctionItHoldsWithTheArgumentsAndResult) {
  RecordingFunction function(true);
  UniqueVariant holder;
  holder.SetDispatch(&function);
  ASSERT_EQ(caller_->Put(L"onDone", holder.Get()), S_OK);
  Args args;
  args.Int(1).Int(2);
  UniqueVariant result;
  ASSERT_EQ(caller_->Call(L"onDone", args.get(), result.Get()), S_OK);
  ASSERT_EQ(function.calls.size(), 1u);
  EXPECT_EQ(function.calls[0].flags, DISPATCH_METHOD);
  EXPECT_EQ(function.calls[0].args, (std::vector<LONG>{1, 2}));
  EXPECT_EQ(function.via_invoke_ex_, 1);
  EXPECT_EQ(result.Type(), VT_I4);
  EXPECT_EQ(result.Get()->lVal, 42);
  holder.Clear();
  caller_->Delete(L"onDone");
}

}  // namespace
}  // namespace stubframework::browserhost
