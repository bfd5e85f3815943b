#include "workflow/install_support.h"

#include <chrono>

#include "base/temp_folder.h"
#include "externalmethods/worker_host_of.h"
#include "htmlui/page_callback.h"
#include "support/test_servers.h"
#include "workflow/error_handle.h"
#include "workflow/install_thread.h"

namespace testsupport::install {

using namespace stubframework;

std::wstring BuildPath(const char* unix_path) { return testsupport::WindowsPathOf(unix_path); }

std::wstring ReadUtf16File(const std::wstring& path) {
  std::wstring text;
  HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return text;
  wchar_t buffer[1024];
  DWORD read = 0;
  while (::ReadFile(file, buffer, sizeof(buffer), &read, nullptr) && read > 0) text.append(buffer, read / sizeof(wchar_t));
  ::CloseHandle(file);
  return text;
}

bool Exists(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

void ExpectProgressThenFinal(const Calls& calls, LONG code) {
  ASSERT_FALSE(calls.empty());
  for (size_t i = 0; i + 1 < calls.size(); ++i) {
    ASSERT_EQ(calls[i].size(), 3u);
    EXPECT_EQ(calls[i][0], workflow::kRunning) << "call " << i;
  }
  ASSERT_EQ(calls.back().size(), 3u);
  EXPECT_EQ(calls.back()[0], code);
}

void InstallFixture::SetUp() {
  ASSERT_TRUE(SUCCEEDED(::CoInitialize(nullptr)));
  AppFixture::SetUp();
  if (HasFatalFailure()) return;
  host_ = std::make_unique<ForwardingHost>(app_.get());
  BeforeMethods();
  methods_ = std::make_unique<externalmethods::MyExternalMethods>(host_.get());
  ASSERT_TRUE(app_->external()->AttachMethods(methods_.get()));
  work_ = base::MakeUniqueFolder(base::WithTrailingBackslash(temp_));
  ASSERT_FALSE(work_.empty());
}

void InstallFixture::TearDown() {
  AppFixture::TearDown();
  methods_.reset();
  host_.reset();
  ::CoUninitialize();
}

HRESULT InstallFixture::Call(const wchar_t* name, ScriptArgs& args, VARIANT* result) {
  DISPID id = DISPID_UNKNOWN;
  LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
  EXPECT_EQ(app_->external_dispatch()->GetIDsOfNames(IID_NULL, names, 1, 0, &id), S_OK);
  return app_->external_dispatch()->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, args.params(), result, nullptr,
                                           nullptr);
}

Calls InstallFixture::PumpUntilDone(RecordingFunction& function) {
  Calls calls = PumpUntilFinalCall(
      function, [](const RecordedCall& call) { return call.args.size() == 3 && call.args[0] != workflow::kRunning; },
      1, 100);
  // After any job the counters are back at their resting values.
  EXPECT_EQ(Prop(L"installCurrent"), L"0");
  EXPECT_EQ(Prop(L"installTotal"), L"1");
  return calls;
}

Calls InstallFixture::Install(const std::wstring& file, const std::wstring& param, LONG estimated_time,
                              const std::wstring& shortcut) {
  RecordingFunction function;
  {
    ScriptArgs args;
    args.Text(shortcut.c_str()).Text(file.c_str()).Text(param.c_str()).Int(estimated_time).Dispatch(&function);
    HRESULT hr = Call(L"install", args);
    EXPECT_EQ(hr, S_OK);
    if (FAILED(hr)) return Calls();
  }
  return PumpUntilDone(function);
}

Calls InstallFixture::RunJob(std::unique_ptr<workflow::InstallJob> job) {
  RecordingFunction function;
  job->host = externalmethods::WorkerHostOf(*methods_);
  job->product_id = host_->product_id();
  EXPECT_EQ(job->callback_stream.Marshal(app_->log(), L"EMInstall", &function), S_OK);
  EXPECT_TRUE(htmlui::StartWorkerThread(job->host.run, workflow::InstallThreadFunc, job.get()));
  job.release();
  return PumpUntilDone(function);
}

ULONG InstallFixture::LastInstallError() {
  ScriptArgs none;
  base::UniqueVariant result;
  EXPECT_EQ(Call(L"getLastInstallError", none, result.Receive()), S_OK);
  EXPECT_EQ(result.Get()->vt, VT_UI4);
  return result.Get()->ulVal;
}

void InstallFixture::PlaceInstaller(const std::wstring& path) {
  ASSERT_TRUE(::CopyFileW(BuildPath(EXIT_WITH_EXE).c_str(), path.c_str(), FALSE)) << ::GetLastError();
}

}  // namespace testsupport::install
