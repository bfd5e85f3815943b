// The reports of a whole run: the start and end reports and the log upload of
// the real entry sequence (a stub built like the product, pointed at the test
// service), the script methods that reach the service through the bridge, and
// the identity the install context reports.
#include <gtest/gtest.h>
#include <windows.h>
#include <zlib.h>

#include <cstdio>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "app/application.h"
#include "app/install_context.h"
#include "app/product.h"
#include "app/settings_store.h"
#include "base/variant.h"
#include "base/wide_format.h"
#include "externalmethods/product/my_external_methods.h"
#include "telemetry/service_client.h"
#include "telemetry/status_words.h"
#include "telemetry/telemetry_service.h"
#include "app/stub_runner.h"

namespace stubframework::app {
namespace {

using testsupport::ServiceRequest;

const wchar_t kSettingsKey[] = L"HKEY_CURRENT_USER\\SOFTWARE\\Brelvo\\stubframework\\Tessary\\22";
const char kExternalProperties[] =
    "<externalProperties><property><name>propertyName1</name><value>propertyValue1</value></property>"
    "</externalProperties>";

std::string Between(const std::string& text, const std::string& open, const std::string& close) {
  size_t start = text.find(open);
  size_t end = text.find(close, start);
  if (start == std::string::npos || end == std::string::npos) return std::string();
  return text.substr(start + open.size(), end - start - open.size());
}

std::string CrcNote(const std::string& name, const std::string& text) {
  uLong crc = crc32(0L, reinterpret_cast<const Bytef*>(text.data()), static_cast<uInt>(text.size()));
  char hex[16];
  std::snprintf(hex, sizeof(hex), "%08lx", static_cast<unsigned long>(crc));
  return name + "=" + hex + "/" + std::to_string(text.size());
}

// A run in a temporary folder of its own, with clean settings.
class RunTest : public testsupport::TelemetryServiceTest {
 protected:
  void SetUp() override {
    TelemetryServiceTest::SetUp();
    if (HasFatalFailure()) return;
    temp_ = testsupport::EnterTempFolder();
    ASSERT_FALSE(temp_.empty());
    testsupport::ClearProductSettings();
    mark_ = service().Mark();
  }
  void TearDown() override {
    ::SetEnvironmentVariableW(L"STUB_TEST_TELEMETRY", nullptr);
    testsupport::LeaveTempFolder(temp_);
    testsupport::ClearProductSettings();
  }

  DWORD RunStubWith(const std::wstring& telemetry) {
    ::SetEnvironmentVariableW(L"STUB_TEST_TELEMETRY", telemetry.empty() ? nullptr : telemetry.c_str());
    return testsupport::RunAndWait(testsupport::StubPath(), L"run=1");
  }
  std::wstring Localhost(unsigned short port) { return L"localhost:" + std::to_wstring(port); }

  // The log copy a run keeps, and its file name.
  std::string KeptLog(std::string* name = nullptr) {
    std::vector<std::wstring> kept = testsupport::ListFolder(temp_ + L"Tessary_log");
    if (kept.size() != 1) return std::string();
    if (name != nullptr) *name = base::ToAnsi(kept[0]);
    return testsupport::ReadWholeFile(temp_ + L"Tessary_log\\" + kept[0]);
  }
  std::wstring StoredStatus() {
    std::wstring status;
    ReadSetting(kSettingsKey, L"status", status);
    return status;
  }

  std::wstring temp_;
  size_t mark_ = 0;
};

TEST_F(RunTest, FailedRunReportsItsStartAndErrorAndUploadsItsLogAsLogZip) {
  // No document object under Wine: the window cannot be shown and the run ends with status 2.
  EXPECT_EQ(RunStubWith(Localhost(service().telemetry_port())), 2147483647u);
  EXPECT_EQ(StoredStatus(), L"2");

  std::vector<ServiceRequest> requests = service().Since(mark_, 3);
  ASSERT_EQ(requests.size(), 3u);
  std::string token = Between(requests[0].body, "<requestToken>", "</requestToken>");
  std::string machine = Between(requests[0].body, "<machineId>", "</machineId>");
  EXPECT_TRUE(std::regex_match(token, std::regex("[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}"))) << token;
  const char* words[] = {"started", "error occurred"};
  for (int i = 0; i < 2; ++i) {
    SCOPED_TRACE(words[i]);
    EXPECT_EQ(requests[i].method, "POST");
    EXPECT_EQ(requests[i].target, "/v1/logAnalytics");
    EXPECT_EQ(requests[i].content_type, "application/xml");
    EXPECT_EQ(requests[i].status, 200);
    EXPECT_EQ(Between(requests[i].body, "<status>", "</status>"), words[i]);
    EXPECT_EQ(Between(requests[i].body, "<requestToken>", "</requestToken>"), token) << "one token per run";
    EXPECT_NE(requests[i].body.find(kExternalProperties), std::string::npos);
    EXPECT_NE(requests[i].body.find("<OS>Windows 10</OS>"), std::string::npos);
    EXPECT_NE(requests[i].body.find("<architecture>x64</architecture>"), std::string::npos);
    EXPECT_NE(requests[i].body.find("<productId>Tessary</productId><productVersion>22.0.0.0</productVersion>"
                                    "<channelId>test</channelId>"),
              std::string::npos);
  }
  EXPECT_EQ(requests[2].method, "PUT");
  EXPECT_EQ(requests[2].target, "/v1/reportError?token=" + token + "&machineId=" +
                                    base::ToUtf8(telemetry::EscapeQueryValue(base::FromUtf8(machine))));
  EXPECT_EQ(requests[2].content_type, "application/xml");
  EXPECT_EQ(requests[2].status, 200) << "Python's zipfile opened it";
  // The archive holds the run's log as it was closed, which is what the kept copy holds.
  std::string name;
  std::string log = KeptLog(&name);
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(requests[2].note, "zip:" + CrcNote(name, log));
  EXPECT_NE(log.find("] Property osbits: 64"), std::string::npos) << "with the store written into it";
}

TEST_F(RunTest, AStoppedServiceLeavesTheRunUnharmedAndTheLogSaysWhy) {
  EXPECT_EQ(RunStubWith(Localhost(service().dead_port())), 2147483647u);
  EXPECT_EQ(StoredStatus(), L"2");
  std::string log = KeptLog();
  EXPECT_NE(log.find("Telemetry service POST /v1/logAnalytics failed: error 12029"), std::string::npos) << log;
  EXPECT_TRUE(service().Since(mark_, 0).empty());
}

TEST_F(RunTest, AnUnconfiguredServiceIsSkippedWithALogLine) {
  EXPECT_EQ(RunStubWith(L""), 2147483647u);
  std::string log = KeptLog();
  EXPECT_NE(log.find("Telemetry service not configured: POST /v1/logAnalytics skipped"), std::string::npos) << log;
  EXPECT_TRUE(service().Since(mark_, 0).empty());
}

TEST_F(RunTest, AModifyRunEndingInErrorReportsModifyErrorOccurredAndUploadsNothing) {
  std::unique_ptr<Application> app = Application::Create(service().Endpoints());
  ASSERT_TRUE(app);
  app->context().properties().Set(L"uninstallOption", L"Modify");
  app->Run();  // no bundle in this program: status 2
  EXPECT_EQ(StoredStatus(), L"72");
  std::vector<ServiceRequest> requests = service().Since(mark_, 2);
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(Between(requests[0].body, "<status>", "</status>"), "started");
  EXPECT_EQ(Between(requests[1].body, "<status>", "</status>"), "modify error occurred");
  ::Sleep(300);
  EXPECT_EQ(service().Since(mark_).size(), 2u) << "only status 2 itself uploads the log";
}

TEST(ClosingStatusTest, FinalStatusAndTheWordItIsReportedAs) {
  const struct {
    int status;
    const wchar_t* option;
    const wchar_t* word;
  } cases[] = {
      {0, L"", L"canceled"},
      {0, L"Repair", L"repair canceled"},
      {1, L"", L"completed"},
      {1, L"Remove", L"remove completed"},
      {2, L"Modify", L"modify error occurred"},
      {3, L"Remove", L"remove canceled"},
      {4, L"Modify", L"environment not supported"},
      {5, L"Remove", L"downloaded"},
      {6, L"Repair", L"stub failed"},
      {2, L"modify", L"error occurred"},  // the option is compared exactly
  };
  for (const auto& c : cases) {
    EXPECT_STREQ(telemetry::StatusWord(FinalStatus(c.status, c.option)), c.word)
        << c.status << " " << base::ToAnsi(c.option);
  }
}

TEST(ReportIdentityTest, TheContextReportsItsValuesAndTheUnnarrowedUiLanguage) {
  const wchar_t kBase[] = L"HKEY_CURRENT_USER\\SOFTWARE\\BrelvoStubTelemetryTest\\stubframework";
  SystemFacts facts;
  facts.ui_language = 1040;  // Italian: installed in English, reported as Italian
  facts.architecture = L"x64";
  facts.default_browser = L"Firefox";
  facts.os_name = L"Windows 10";
  facts.country = L"118";
  facts.machine_id = L"P-001A2B3C-4D5E-001A-2B3C-4D5E001A2B3C";
  InstallContext context(facts, L"", kBase);
  context.external_properties().Set(L"propertyName1", L"propertyValue1");
  context.SaveChannel(L"beta");
  telemetry::ReportIdentity id = context.Identity();
  ::RegDeleteTreeW(HKEY_CURRENT_USER, L"SOFTWARE\\BrelvoStubTelemetryTest");
  EXPECT_EQ(id.token, context.request_token());
  EXPECT_EQ(id.country, L"118");
  EXPECT_EQ(id.product_id, L"Tessary");
  EXPECT_EQ(id.product_version, L"22.0.0.0");
  EXPECT_EQ(id.channel, L"beta");
  EXPECT_EQ(id.install_language, L"English");
  EXPECT_EQ(id.language, L"Italian");
  EXPECT_EQ(id.os, L"Windows 10");
  EXPECT_EQ(id.architecture, L"x64");
  EXPECT_EQ(id.default_browser, L"Firefox");
  EXPECT_EQ(id.client_version, L"1.0");
  EXPECT_EQ(id.machine_id, L"P-001A2B3C-4D5E-001A-2B3C-4D5E001A2B3C");
  EXPECT_EQ(id.external_properties, (std::map<std::wstring, std::wstring>{{L"propertyName1", L"propertyValue1"}}));
}

// The script methods as page script reaches them, with an application whose
// reports go to the test service.
class TelemetryMethodsTest : public RunTest {
 protected:
  void SetUp() override {
    RunTest::SetUp();
    if (HasFatalFailure()) return;
  }
  void TearDown() override {
    methods_.reset();
    app_.reset();
    RunTest::TearDown();
  }
  void Build(const telemetry::Services& services) {
    app_ = Application::Create(services);
    ASSERT_TRUE(app_);
    methods_ = std::make_unique<externalmethods::MyExternalMethods>(app_.get());
    app_->external()->AttachMethods(methods_.get());
  }
  HRESULT Call(const wchar_t* name, DISPPARAMS* params, VARIANT* result) {
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    DISPID id = 0;
    HRESULT hr = app_->external_dispatch()->GetIDsOfNames(IID_NULL, names, 1, 0, &id);
    if (FAILED(hr)) return hr;
    return app_->external_dispatch()->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, params, result, nullptr, nullptr);
  }
  std::string LogText() {
    std::string text;
    HANDLE file = ::CreateFileW(app_->log()->path().c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return text;
    char buffer[4096];
    DWORD read = 0;
    while (::ReadFile(file, buffer, sizeof(buffer), &read, nullptr) && read > 0) text.append(buffer, read);
    ::CloseHandle(file);
    return text;
  }
  bool IsInEmbargoedCountry() {
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    base::UniqueVariant result;
    EXPECT_EQ(Call(L"isInEmbargoedCountry", &none, result.Receive()), S_OK);
    EXPECT_EQ(result.Type(), VT_BOOL);
    return result.Get()->boolVal == VARIANT_TRUE;
  }

  std::unique_ptr<Application> app_;
  std::unique_ptr<externalmethods::MyExternalMethods> methods_;
};

TEST_F(TelemetryMethodsTest, RegionReplySetsCountry) {
  Build(service().Endpoints());
  ASSERT_TRUE(app_->analytics()->SendStartReport());  // the service learns the run's country from it
  const std::wstring country = app_->context().country();
  EXPECT_FALSE(IsInEmbargoedCountry()) << "this prefix's country is not on the test service's list";
  EXPECT_EQ(app_->context().properties().Get(L"Country"), country);
  EXPECT_NE(LogText().find("EMIsInEmbargoedCountry:Result: false Country: " + base::ToAnsi(country)),
            std::string::npos)
      << LogText();
  std::vector<ServiceRequest> requests = service().Since(mark_, 2);
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[1].target, "/v1/isInEmbargoedCountry");
  EXPECT_EQ(Between(requests[1].body, "<token>", "</token>"), base::ToUtf8(app_->context().request_token()));
}

TEST_F(TelemetryMethodsTest, WithoutAReplyCountryIsEmptyAndTheAnswerFalse) {
  Build(service().StoppedEndpoints());
  app_->context().properties().Set(L"Country", L"stale");
  EXPECT_FALSE(IsInEmbargoedCountry());
  EXPECT_EQ(app_->context().properties().Get(L"Country"), L"");
  EXPECT_NE(LogText().find("EMIsInEmbargoedCountry:Result:  Country: \r\n"), std::string::npos) << LogText();
}

TEST_F(TelemetryMethodsTest, TrackUserActivityReturnsAtOnceAndTheEventArrivesEscaped) {
  Build(service().Endpoints());
  base::UniqueVariant activity;
  activity.SetText(L"chose <Custom> & \"left\"");
  DISPPARAMS params = {activity.Get(), nullptr, 1, 0};
  EXPECT_EQ(Call(L"trackUserActivity", &params, nullptr), S_OK);
  EXPECT_NE(LogText().find("EMTrackUserActivity"), std::string::npos);
  std::vector<ServiceRequest> requests = service().Since(mark_, 1);
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].target, "/v1/logUserActivity");
  EXPECT_EQ(requests[0].status, 200);
  EXPECT_EQ(Between(requests[0].body, "<activity>", "</activity>"), "chose &lt;Custom&gt; &amp; &quot;left&quot;");
  EXPECT_EQ(Between(requests[0].body, "<token>", "</token>"), base::ToUtf8(app_->context().request_token()));
}

}  // namespace
}  // namespace stubframework::app
