// The reports against the telemetry service over real HTTPS: the bytes of
// each document and the verb, path, query and content type of each request,
// the region reply, the log upload, a stopped or unconfigured service, and
// the pageview to the plain-HTTP collector.
#include <gtest/gtest.h>
#include <windows.h>
#include <zlib.h>

#include <cstdio>
#include <string>
#include <vector>

#include "base/temp_folder.h"
#include "base/wide_format.h"
#include "telemetry/analytics.h"
#include "telemetry/capture_log.h"
#include "telemetry/machine_id.h"
#include "telemetry/pageview.h"
#include "telemetry/telemetry_service.h"

namespace stubframework::telemetry {
namespace {

using testsupport::CaptureLog;
using testsupport::ServiceRequest;

class FakeSource final : public ReportSource {
 public:
  ReportIdentity identity;
  int status = 4;

  FakeSource() {
    identity.token = L"7D1A5B7E-0000-4000-8000-00000000ABCD";
    identity.country = L"203";
    identity.product_id = L"Tessary";
    identity.product_version = L"22.0.0.0";
    identity.channel = L"test";
    identity.install_language = L"English";
    identity.os = L"Windows 10";
    identity.language = L"German";
    identity.architecture = L"x64";
    identity.default_browser = L"Other";
    identity.client_version = L"1.0";
    identity.machine_id = L"P-001A2B3C-4D5E-001A-2B3C-4D5E001A2B3C";
    identity.external_properties = {{L"propertyName1", L"propertyValue1"}};
  }
  ReportIdentity Identity() override { return identity; }
  int Status() override { return status; }
};

std::string Document(const std::string& token, const std::string& status, const std::string& channel = "test",
                     const std::string& country = "203") {
  return "<ORVIKAnalytics><requestToken>" + token + "</requestToken><country>" + country +
         "</country><mainApp><productId>Tessary</productId><productVersion>22.0.0.0</productVersion><channelId>" +
         channel + "</channelId><installLanguage>English</installLanguage><status>" + status +
         "</status><externalProperties><property><name>propertyName1</name><value>propertyValue1</value>"
         "</property></externalProperties></mainApp><error></error><userEnvironment><OS>Windows 10</OS>"
         "<language>German</language><architecture>x64</architecture><defaultBrowser>Other</defaultBrowser>"
         "</userEnvironment><ORVIKVersion>1.0</ORVIKVersion><machineId>P-001A2B3C-4D5E-001A-2B3C-4D5E001A2B3C"
         "</machineId></ORVIKAnalytics>";
}

class AnalyticsServiceTest : public testsupport::TelemetryServiceTest {
 protected:
  void SetUp() override {
    TelemetryServiceTest::SetUp();
    if (HasFatalFailure()) return;
    // A token of its own per test, so its requests are easy to tell apart.
    source_.identity.token = NewGuidString();
    token_ = base::ToUtf8(source_.identity.token);
    mark_ = service().Mark();
  }
  // Activity threads end before the log they write to goes.
  void TearDown() override {
    EXPECT_EQ(workers_.StopAndJoin(10000), 0u);
    TelemetryServiceTest::TearDown();
  }
  Analytics Make(const Services& services) { return Analytics(&source_, services, &log_, &workers_); }
  std::vector<ServiceRequest> Requests(size_t at_least) { return service().Since(mark_, at_least); }

  FakeSource source_;
  CaptureLog log_;
  base::WorkerSet workers_;
  std::string token_;
  size_t mark_ = 0;
};

TEST_F(AnalyticsServiceTest, StartAndEndDocumentsArriveByteForByte) {
  Analytics analytics = Make(service().Endpoints());
  ASSERT_TRUE(analytics.SendStartReport());
  source_.status = 0;  // never started: reported as cancelled
  ASSERT_TRUE(analytics.SendClosingReport());
  source_.status = 72;
  ASSERT_TRUE(analytics.SendClosingReport());
  source_.status = 7;  // no word for it: the element stays empty
  ASSERT_TRUE(analytics.SendClosingReport());

  std::vector<ServiceRequest> requests = Requests(4);
  ASSERT_EQ(requests.size(), 4u);
  const char* words[] = {"started", "canceled", "modify error occurred", ""};
  for (size_t i = 0; i < 4; ++i) {
    SCOPED_TRACE(words[i]);
    EXPECT_EQ(requests[i].method, "POST");
    EXPECT_EQ(requests[i].target, "/v1/logAnalytics");
    EXPECT_EQ(requests[i].content_type, "application/xml");
    EXPECT_EQ(requests[i].user_agent, "Kandrel Message Client/1.0");
    EXPECT_EQ(requests[i].status, 200);
    EXPECT_EQ(requests[i].body, Document(token_, words[i]));
  }
}

TEST_F(AnalyticsServiceTest, ValuesWithMarkupCharactersArriveEscapedAndParse) {
  source_.identity.channel = L"<&\"'>";
  Analytics analytics = Make(service().Endpoints());
  ASSERT_TRUE(analytics.SendStartReport());
  std::vector<ServiceRequest> requests = Requests(1);
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].body, Document(token_, "started", "&lt;&amp;&quot;&apos;&gt;"));
  EXPECT_EQ(requests[0].status, 200) << "the service's XML parser took it";
  EXPECT_EQ(requests[0].note, "analytics status=started channel=<&\"'>") << "and read the value back";
}

TEST_F(AnalyticsServiceTest, RegionReplyNamesTheCountryAndOnlyAListedOneIsEmbargoed) {
  Analytics analytics = Make(service().Endpoints());
  ASSERT_TRUE(analytics.SendStartReport());  // the service learns the run's country from it
  RegionReply free = analytics.CheckRegion();
  EXPECT_EQ(free.country, L"203");
  EXPECT_EQ(free.is_embargo, L"false");
  EXPECT_FALSE(free.embargoed());

  // Another run in another country: a run's region is fixed by its first report.
  source_.identity.token = NewGuidString();
  source_.identity.country = L"131";
  ASSERT_TRUE(analytics.SendStartReport());
  RegionReply restricted = analytics.CheckRegion();
  EXPECT_EQ(restricted.country, L"131");
  EXPECT_TRUE(restricted.embargoed());

  std::vector<ServiceRequest> requests = Requests(4);
  ASSERT_EQ(requests.size(), 4u);
  EXPECT_EQ(requests[1].method, "POST");
  EXPECT_EQ(requests[1].target, "/v1/isInEmbargoedCountry");
  EXPECT_EQ(requests[1].content_type, "application/xml");
  EXPECT_EQ(requests[1].body, "<RegionRestrictions><token>" + token_ +
                                  "</token><productId>Tessary</productId><productVersion>22.0.0.0</productVersion>"
                                  "<channel>test</channel><os>Windows 10</os><machineId>"
                                  "P-001A2B3C-4D5E-001A-2B3C-4D5E001A2B3C</machineId></RegionRestrictions>");
}

class LogFiles {
 public:
  LogFiles() : folder_(base::MakeUniqueFolder(base::TemporaryPath())) {}
  ~LogFiles() { base::DeleteFolderRecursive(folder_); }
  std::wstring Make(const wchar_t* name, const std::string& text) {
    std::wstring path = folder_ + name;
    HANDLE f = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    ::WriteFile(f, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    ::CloseHandle(f);
    return path;
  }

 private:
  std::wstring folder_;
};

std::string CrcNote(const std::string& name, const std::string& text) {
  uLong crc = crc32(0L, reinterpret_cast<const Bytef*>(text.data()), static_cast<uInt>(text.size()));
  char hex[16];
  std::snprintf(hex, sizeof(hex), "%08lx", static_cast<unsigned long>(crc));
  return name + "=" + hex + "/" + std::to_string(text.size());
}

TEST_F(AnalyticsServiceTest, LogUploadIsAZipOfTheListedFilesInOrderPutWithTokenAndMachineId) {
  source_.identity.machine_id = L"P-1&2 3";
  Analytics analytics = Make(service().Endpoints());
  EXPECT_FALSE(analytics.UploadLogs()) << "nothing listed";
  LogFiles files;
  std::string run_log = "the run log\r\n";
  std::string msi_log(5000, 'm');
  analytics.AddUploadFile(files.Make(L"installer_log_1.txt", run_log));
  analytics.AddUploadFile(files.Make(L"msi.log", msi_log));
  ASSERT_TRUE(analytics.UploadLogs());

  std::vector<ServiceRequest> requests = Requests(1);
  ASSERT_EQ(requests.size(), 1u) << "the empty list sent nothing";
  EXPECT_EQ(requests[0].method, "PUT");
  EXPECT_EQ(requests[0].target, "/v1/reportError?token=" + token_ + "&machineId=P-1%262%203");
  EXPECT_EQ(requests[0].content_type, "application/xml");
  EXPECT_EQ(requests[0].status, 200) << "Python's zipfile read every entry";
  EXPECT_EQ(requests[0].note, "zip:" + CrcNote("installer_log_1.txt", run_log) + ";" + CrcNote("msi.log", msi_log));
  EXPECT_EQ(requests[0].body.compare(0, 4, "PK\x03\x04"), 0);
}

TEST_F(AnalyticsServiceTest, AFileThatCannotBeAddedSendsNothing) {
  Analytics analytics = Make(service().Endpoints());
  LogFiles files;
  analytics.AddUploadFile(files.Make(L"present.txt", "x"));
  analytics.AddUploadFile(L"C:\\no\\such\\file.txt");
  EXPECT_FALSE(analytics.UploadLogs());
  EXPECT_TRUE(Requests(0).empty());
}

TEST_F(AnalyticsServiceTest, ReportWithLogsSendsTheLogsOnlyForAFailedRun) {
  Analytics analytics = Make(service().Endpoints());
  LogFiles files;
  analytics.AddUploadFile(files.Make(L"run.txt", "log"));
  EXPECT_EQ(analytics.ReportWithLogs(false), kReportSent);  // "started", no logs
  source_.status = 1;
  EXPECT_EQ(analytics.ReportWithLogs(true), kReportSent);  // "completed", no logs
  source_.status = 2;
  EXPECT_EQ(analytics.ReportWithLogs(true), kReportSent);  // "error occurred" and the logs
  std::vector<ServiceRequest> requests = Requests(4);
  ASSERT_EQ(requests.size(), 4u);
  EXPECT_EQ(requests[0].body, Document(token_, "started"));
  EXPECT_EQ(requests[1].body, Document(token_, "completed"));
  EXPECT_EQ(requests[2].body, Document(token_, "error occurred"));
  EXPECT_EQ(requests[3].method, "PUT");
  EXPECT_EQ(Make(service().StoppedEndpoints()).ReportWithLogs(true), kReportFailed);
}

TEST_F(AnalyticsServiceTest, AStoppedServiceFailsEachReportAndTheLogSaysWhy) {
  Analytics analytics = Make(service().StoppedEndpoints());
  EXPECT_FALSE(analytics.SendStartReport());
  EXPECT_TRUE(log_.Has(L"Telemetry service POST /v1/logAnalytics failed: error 12029")) << "cannot connect";
  RegionReply reply = analytics.CheckRegion();
  EXPECT_TRUE(reply.country.empty());
  EXPECT_FALSE(reply.embargoed());
  EXPECT_TRUE(log_.Has(L"Telemetry service POST /v1/isInEmbargoedCountry failed: error 12029"));
}

TEST_F(AnalyticsServiceTest, RefusedDocumentIsAFailure) {
  // The service takes no document over its size limit.
  source_.identity.external_properties[L"big"] = std::wstring(300 * 1024, L'x');
  Analytics analytics = Make(service().Endpoints());
  EXPECT_FALSE(analytics.SendStartReport());
  EXPECT_TRUE(log_.Has(L"Telemetry service POST /v1/logAnalytics answered status 400"));
}

TEST_F(AnalyticsServiceTest, AnUnconfiguredServiceIsNeverContacted) {
  Services none;
  Analytics analytics = Make(none);
  LogFiles files;
  analytics.AddUploadFile(files.Make(L"run.txt", "log"));
  EXPECT_FALSE(analytics.SendStartReport());
  EXPECT_FALSE(analytics.UploadLogs());
  EXPECT_FALSE(analytics.CheckRegion().embargoed());
  EXPECT_FALSE(analytics.TrackUserActivity(L"x"));
  EXPECT_EQ(log_.lines().size(), 4u);
  EXPECT_TRUE(log_.Has(L"Telemetry service not configured: POST /v1/logAnalytics skipped"));
  EXPECT_TRUE(log_.Has(L"Telemetry service not configured: PUT /v1/reportError skipped"));
  EXPECT_TRUE(log_.Has(L"Telemetry service not configured: POST /v1/logUserActivity skipped"));
  EXPECT_TRUE(Requests(0).empty());
}

TEST_F(AnalyticsServiceTest, UserActivityIsSentFromItsOwnThread) {
  Analytics analytics = Make(service().Endpoints());
  ASSERT_TRUE(analytics.TrackUserActivity(L"clicked <Install> & \u00e9"));
  std::vector<ServiceRequest> requests = Requests(1);
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].method, "POST");
  EXPECT_EQ(requests[0].target, "/v1/logUserActivity");
  EXPECT_EQ(requests[0].content_type, "application/xml");
  EXPECT_EQ(requests[0].body, "<UserActivity><token>" + token_ +
                                  "</token><productId>Tessary</productId><productVersion>22.0.0.0</productVersion>"
                                  "<activity>clicked &lt;Install&gt; &amp; \xc3\xa9</activity></UserActivity>");
  EXPECT_EQ(requests[0].note, "activity clicked <Install> & \xc3\xa9");

  Analytics stopped = Make(service().StoppedEndpoints());
  ASSERT_TRUE(stopped.TrackUserActivity(L"went away"));
  for (int i = 0; i < 250 && !log_.Has(L"TrackUserActivityTreadFunc track activity:went away failed!"); ++i) {
    ::Sleep(20);
  }
  EXPECT_TRUE(log_.Has(L"TrackUserActivityTreadFunc track activity:went away failed!"));
  EXPECT_FALSE(analytics.TrackUserActivity(std::wstring(40000, L'a'))) << "an oversized text is not sent";
  EXPECT_FALSE(Analytics(&source_, service().Endpoints(), &log_).TrackUserActivity(L"unowned"))
      << "no thread is started that nobody joins";
}

TEST_F(AnalyticsServiceTest, PageviewPostsThePayloadNarrowedToBytes) {
  EXPECT_EQ(PostPageview(service().Endpoints().collector, L"v=1&t=event&el=\u00e9\u0141", &log_), L"OK");
  std::vector<ServiceRequest> requests = Requests(1);
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].method, "POST");
  EXPECT_EQ(requests[0].target, "/collect");
  EXPECT_EQ(requests[0].content_type, "application/x-www-form-urlencoded");
  EXPECT_EQ(requests[0].user_agent, "Vspec Program/1.1 HTTP/5.1");
  EXPECT_EQ(requests[0].body, "v=1&t=event&el=\xe9\x41");

  EXPECT_EQ(PostPageview(service().StoppedEndpoints().collector, L"v=1", &log_), L"Error ");
  EXPECT_EQ(PostPageview(ServiceEndpoint(), L"v=1", &log_), L"Error ");
  EXPECT_TRUE(log_.Has(L"Pageview collector not configured: POST /collect skipped"));
  EXPECT_EQ(Requests(1).size(), 1u) << "neither failed post reached the collector";
}

}  // namespace
}  // namespace stubframework::telemetry
