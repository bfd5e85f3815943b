// The maintenance and self-update methods driven through window.external as a
// page drives them: the product's method table on a real application, a
// recording page function, and this thread (a single-threaded apartment)
// pumping messages while a worker calls back.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "externalmethods/product/my_external_methods.h"
#include "htmlui/bridge_test_support.h"
#include "htmlui/html_external.h"

namespace testsupport {

class WorkerMethodFixture : public AppFixture {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(::CoInitialize(nullptr)));
    AppFixture::SetUp();
    if (HasFatalFailure()) return;
    methods_ = std::make_unique<stubframework::externalmethods::MyExternalMethods>(app_.get());
    ASSERT_TRUE(app_->external()->AttachMethods(methods_.get()));
  }
  void TearDown() override {
    AppFixture::TearDown();
    methods_.reset();
    ::CoUninitialize();
  }

  stubframework::htmlui::HtmlExternal* bridge() { return app_->external(); }
  std::wstring Prop(const std::wstring& name) { return bridge()->GetProperty(name); }

  HRESULT Call(const wchar_t* name, WORD flags, ScriptArgs& args, VARIANT* result = nullptr) {
    DISPID id = DISPID_UNKNOWN;
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    EXPECT_EQ(app_->external_dispatch()->GetIDsOfNames(IID_NULL, names, 1, 0, &id), S_OK);
    return app_->external_dispatch()->Invoke(id, IID_NULL, 0, flags, args.params(), result, nullptr, nullptr);
  }

  // Pumps this thread's messages until the worker has made its final call
  // (one with a single argument, or one whose result is not Running) and has
  // let go of the function. The call's arguments must be gone by then: they
  // hold a reference too.
  Calls PumpUntilDone(RecordingFunction& function, int timeout_s = 120) {
    return PumpUntilFinalCall(
        function, [](const RecordedCall& call) { return call.args.size() == 1 || call.args[0] != 10; }, 1, timeout_s);
  }

  std::unique_ptr<stubframework::externalmethods::MyExternalMethods> methods_;
};

}  // namespace testsupport
