// The download script methods driven through window.external exactly as a
// page drives them: a dispatch object of the test is the page's function, and
// this thread, a single-threaded apartment, pumps messages while the worker
// calls it back.
#include <gtest/gtest.h>
#include <zlib.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/registry.h"
#include "base/temp_folder.h"
#include "base/wide_format.h"
#include "archive/zip_writer.h"
#include "downloader/download_test_util.h"
#include "workflow/extracted_packages.h"
#include "externalmethods/product/my_external_methods.h"
#include "externalmethods/worker_host_of.h"
#include "htmlui/bridge_test_support.h"
#include "htmlui/html_external.h"
#include "htmlui/page_callback.h"
#include "support/test_servers.h"
#include "workflow/canonical_folder.h"
#include "workflow/download_job.h"
#include "workflow/download_thread.h"

namespace stubframework::workflow {
namespace {

using testsupport::AppFixture;
using testsupport::Calls;
using testsupport::NoisyBytes;
using testsupport::PumpUntilFinalCall;
using testsupport::RecordedCall;
using testsupport::RecordingFunction;
using testsupport::ScriptArgs;
using testsupport::UniqueKey;

std::wstring CrcText(const std::string& bytes) {
  uLong crc = crc32(0L, reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(bytes.size()));
  return base::Format(L"%u", static_cast<unsigned>(crc));
}

std::wstring Wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }

bool Exists(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

class DownloadMethodTest : public AppFixture {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(::CoInitialize(nullptr)));
    AppFixture::SetUp();
    if (HasFatalFailure()) return;
    std::string error;
    servers_ = testsupport::TestServers::Get(&error);
    ASSERT_NE(servers_, nullptr) << error;
    methods_ = std::make_unique<externalmethods::MyExternalMethods>(app_.get());
    ASSERT_TRUE(app_->external()->AttachMethods(methods_.get()));
    work_ = base::MakeUniqueFolder(base::WithTrailingBackslash(temp_));
    ASSERT_FALSE(work_.empty());
  }
  void TearDown() override {
    AppFixture::TearDown();
    methods_.reset();
    ::CoUninitialize();
  }

  const testsupport::TestServers& servers() const { return *servers_; }
  htmlui::HtmlExternal* bridge() { return app_->external(); }
  std::wstring Prop(const std::wstring& name) { return bridge()->GetProperty(name); }

  HRESULT Call(const wchar_t* name, WORD flags, ScriptArgs& args, VARIANT* result = nullptr) {
    DISPID id = DISPID_UNKNOWN;
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    EXPECT_EQ(app_->external_dispatch()->GetIDsOfNames(IID_NULL, names, 1, 0, &id), S_OK);
    return app_->external_dispatch()->Invoke(id, IID_NULL, 0, flags, args.params(), result, nullptr, nullptr);
  }

  // Pumps this thread's messages until the page function got its final call
  // and the worker let go of it.
  Calls PumpUntilDone(RecordingFunction& function, LONG settled_refs,
                      const std::function<void(const std::vector<RecordedCall>&)>& while_running) {
    Calls calls = PumpUntilFinalCall(
        function, [](const RecordedCall& call) { return call.args.size() == 3 && call.args[0] != kRunning; },
        settled_refs, 120, while_running);
    // After any job the counters are back at their resting values.
    EXPECT_EQ(Prop(L"downloadCurrent"), L"0");
    EXPECT_EQ(Prop(L"downloadTotal"), L"1");
    return calls;
  }

  Calls Download(const std::wstring& url, const std::wstring& file, const std::wstring& crc, bool secure, bool resume,
                 const std::function<void(const std::vector<RecordedCall>&)>& while_running = {}) {
    RecordingFunction function;
    Calls calls;
    {
      ScriptArgs args;
      args.Text(url.c_str()).Text(file.c_str()).Text(crc.c_str()).Bool(secure).Bool(resume).Dispatch(&function);
      HRESULT hr = Call(L"download", DISPATCH_METHOD, args);
      EXPECT_EQ(hr, S_OK);
      if (FAILED(hr)) return calls;
    }
    return PumpUntilDone(function, 1, while_running);
  }

  // Progress calls are (10, total, current); the last call carries the code.
  static void ExpectProgressThenFinal(const Calls& calls, LONG code) {
    ASSERT_FALSE(calls.empty());
    for (size_t i = 0; i + 1 < calls.size(); ++i) {
      ASSERT_EQ(calls[i].size(), 3u);
      EXPECT_EQ(calls[i][0], kRunning) << "call " << i;
    }
    EXPECT_EQ(calls.back()[0], code);
  }

  std::string Publish(const std::string& name, const std::string& data, bool with_meta = false) {
    EXPECT_TRUE(servers().PutFile(name, data));
    if (with_meta) {
      EXPECT_TRUE(servers().PutFile(name + ".meta", testsupport::MakeMeta(data)));
    }
    return name;
  }

  // A package of `entries` noisy files and a "setup.exe" in the middle.
  std::string MakePackage(int entries) {
    std::wstring source = base::MakeUniqueFolder(work_);
    std::wstring zip = work_ + L"made.zip";
    for (int i = 0; i < entries; ++i) {
      std::wstring name = i == entries / 2 ? L"setup.exe" : base::Format(L"part%03d.dat", i);
      EXPECT_TRUE(testsupport::WriteWholeFile(source + name, NoisyBytes(20000, 100 + i)));
      EXPECT_TRUE(archive::AddFileToArchive(zip, source + name));
    }
    std::string bytes = testsupport::ReadWholeFile(zip);
    ::DeleteFileW(zip.c_str());
    return bytes;
  }

  std::wstring RecordKey() { return ExtractFoldersKey(app_->context().settings_key()); }

  // Starts the worker by hand, as the script method does, for a job whose
  // seams a test has changed.
  Calls RunJob(std::unique_ptr<DownloadJob> job) {
    RecordingFunction function;
    job->host = externalmethods::WorkerHostOf(*methods_);
    EXPECT_EQ(job->callback_stream.Marshal(app_->log(), L"EMDownload", &function), S_OK);
    EXPECT_TRUE(htmlui::StartWorkerThread(job->host.run, DownloadThreadFunc, job.get()));
    job.release();
    return PumpUntilDone(function, 1, {});
  }

  const testsupport::TestServers* servers_ = nullptr;
  std::unique_ptr<externalmethods::MyExternalMethods> methods_;
  std::wstring work_;
};

TEST_F(DownloadMethodTest, PlainDownloadReportsRunningProgressThenTheFinalCode) {
  std::string data = NoisyBytes(3 * 1048576 + 17, 11);
  std::string name = Publish(UniqueKey() + ".bin", data);
  std::wstring url = servers().NginxUrl("/" + name);
  std::wstring file = work_ + L"plain.bin";
  Calls calls = Download(url, file, CrcText(data), false, false);

  ExpectProgressThenFinal(calls, kNoError);
  const LONG size = static_cast<LONG>(data.size());
  ASSERT_GE(calls.size(), 2u);
  EXPECT_EQ(calls[calls.size() - 2], (std::vector<LONG>{kRunning, size, size})) << "the last progress is complete";
  EXPECT_EQ(calls.back(), (std::vector<LONG>{kNoError, size, size})) << "the final call repeats it";
  LONG last = 0;
  for (size_t i = 0; i + 1 < calls.size(); ++i) {
    if (calls[i][1] != size) continue;  // before the size was announced
    EXPECT_GE(calls[i][2], last) << "progress never goes back";
    last = calls[i][2];
  }
  EXPECT_EQ(testsupport::ReadWholeFile(file), data);

  auto seen = servers().NginxRequests(name, 1);
  ASSERT_EQ(seen.size(), 1u);
  const std::string prefix = "/" + name + "?timestamp=";
  ASSERT_EQ(seen[0].target.compare(0, prefix.size(), prefix), 0) << seen[0].target;
  for (size_t i = prefix.size(); i < prefix.size() + 14; ++i) EXPECT_TRUE(isdigit(seen[0].target[i])) << seen[0].target;

  std::string expected_params =
      "EMDownload params 0, 0, " + base::ToAnsi(CrcText(data) + L", " + file + L", " + url);
  EXPECT_TRUE(LogHasLine(expected_params)) << LogText();
  EXPECT_TRUE(LogHasLine("EMDownload -- Finish"));
  EXPECT_TRUE(LogHasLine(base::ToAnsi(L"Download " + url + L" finished to " + file)));
}

TEST_F(DownloadMethodTest, VerifiedDownloadReportsProgressAndTheDownloadTime) {
  base::UniqueVariant time;
  ScriptArgs none;
  ASSERT_EQ(Call(L"getDownloadTimeProp", DISPATCH_METHOD, none, time.Receive()), S_OK);
  ASSERT_EQ(time.Type(), VT_BSTR);
  EXPECT_STREQ(time.Get()->bstrVal, L"0") << "no block-verified download yet";

  std::string data = NoisyBytes(2 * 1048576 + 3, 12);
  std::string name = Publish(UniqueKey() + ".bin", data, true);
  std::wstring file = work_ + L"verified.bin";
  Calls calls = Download(servers().NginxUrl("/" + name), file, CrcText(data), false, true);
  ExpectProgressThenFinal(calls, kNoError);
  const LONG size = static_cast<LONG>(data.size());
  EXPECT_EQ(calls.back(), (std::vector<LONG>{kNoError, size, size}));
  EXPECT_EQ(testsupport::ReadWholeFile(file), data);
  EXPECT_TRUE(LogHasLine("EMDownload params -1, 0, " + base::ToAnsi(CrcText(data) + L", " + file) + ", " +
                         base::ToAnsi(servers().NginxUrl("/" + name))));

  ASSERT_EQ(Call(L"getDownloadTimeProp", DISPATCH_METHOD, none, time.Receive()), S_OK);
  std::wstring seconds(time.Get()->bstrVal);
  ASSERT_FALSE(seconds.empty());
  for (wchar_t c : seconds) EXPECT_TRUE(iswdigit(c)) << base::ToAnsi(seconds);
}

TEST_F(DownloadMethodTest, AnExistingFileWithTheExpectedCrcIsNotFetchedAgain) {
  std::string data = NoisyBytes(40000, 13);
  for (bool resume : {false, true}) {
    SCOPED_TRACE(resume ? "resume" : "no resume");
    std::string name = Publish(UniqueKey() + ".bin", data, true);
    std::wstring file = work_ + Wide(name);
    ASSERT_TRUE(testsupport::WriteWholeFile(file, data));
    Calls calls = Download(servers().NginxUrl("/" + name), file, CrcText(data), false, resume);
    EXPECT_EQ(calls, (Calls{{kNoError, 0, 0}})) << "only the final call";
    EXPECT_TRUE(servers().NginxRequests(name, 0, 300).empty()) << "nothing was asked of the server";
    EXPECT_TRUE(LogHasLine(base::ToAnsi(L"File " + servers().NginxUrl("/" + name) + L" exists")));
  }
}

TEST_F(DownloadMethodTest, AnExistingFileIsFetchedAgainWithAnEmptyOrAnotherCrc) {
  std::string data = NoisyBytes(50000, 14);
  std::string name = Publish(UniqueKey() + ".bin", data);
  std::wstring file = work_ + L"again.bin";

  ASSERT_TRUE(testsupport::WriteWholeFile(file, "stale"));
  ExpectProgressThenFinal(Download(servers().NginxUrl("/" + name), file, L"", false, false), kNoError);
  EXPECT_EQ(testsupport::ReadWholeFile(file), data);
  EXPECT_EQ(servers().NginxRequests(name, 1).size(), 1u);

  ASSERT_TRUE(testsupport::WriteWholeFile(file, "stale"));
  ExpectProgressThenFinal(Download(servers().NginxUrl("/" + name), file, CrcText(data), false, false), kNoError);
  EXPECT_EQ(testsupport::ReadWholeFile(file), data);
  EXPECT_EQ(servers().NginxRequests(name, 2).size(), 2u);
  EXPECT_TRUE(LogHasLine(base::ToAnsi(L"File " + file + L" crc dismatch")));
}

TEST_F(DownloadMethodTest, ACrcMismatchAfterTheTransferIsMd5ErrorAndTheFileStays) {
  std::string data = NoisyBytes(30000, 15);
  std::string name = Publish(UniqueKey() + ".bin", data);
  std::wstring file = work_ + L"mismatch.bin";
  ExpectProgressThenFinal(Download(servers().NginxUrl("/" + name), file, L"12345", false, false), kMd5Error);
  EXPECT_EQ(testsupport::ReadWholeFile(file), data);
  EXPECT_TRUE(LogHasLine(base::ToAnsi(L"Downloaded File " + file + L" crc dismatch")));
}

TEST_F(DownloadMethodTest, AZipUrlIsExtractedDuringTheDownload) {
  std::string package = MakePackage(60);
  std::string name = Publish(UniqueKey() + ".ZIP", package);
  std::wstring file = work_ + L"package.zip";
  bridge()->SetProperty(L"isExtractInDownload", L"true");
  // Counters an earlier extraction left behind.
  bridge()->SetInstallTotal(60);
  bridge()->SetInstallCurrent(6);
  Calls calls = Download(servers().NginxUrl("/" + name), file, CrcText(package), false, false);

  ExpectProgressThenFinal(calls, kNoError);
  const LONG size = static_cast<LONG>(package.size());
  volatile double scaled = size * 0.95;
  const LONG at95 = static_cast<LONG>(scaled);
  // The transfer stops at 95 %; its last publication is exactly that, and the
  // extraction starts from there, not from the old counters.
  size_t transfer_end = calls.size();
  for (size_t i = 0; i < calls.size(); ++i) {
    if (transfer_end == calls.size() && calls[i] == std::vector<LONG>{kRunning, size, at95}) transfer_end = i;
    EXPECT_LE(calls[i][2], size);
  }
  ASSERT_LT(transfer_end + 1, calls.size());
  for (size_t i = 0; i < transfer_end; ++i) EXPECT_LE(calls[i][2], at95) << "transfer call " << i;
  if (transfer_end + 2 < calls.size()) {
    EXPECT_LT(calls[transfer_end + 1][2], size) << "the first extraction call starts below 100 %";
  }
  EXPECT_EQ(calls.back()[1], size);
  EXPECT_GE(calls.back()[2], at95);

  std::wstring unzip = Prop(file + L"__ZIP_Unzip_Folder__");
  std::wstring setup = Prop(file + L"__ZIP_EXE_Path__");
  ASSERT_FALSE(unzip.empty());
  EXPECT_EQ(setup.compare(0, unzip.size(), unzip), 0) << "the setup folder lies in the unzip folder";
  EXPECT_TRUE(Exists(base::WithTrailingBackslash(setup) + L"setup.exe"));
  EXPECT_TRUE(Exists(base::WithTrailingBackslash(unzip) + L"part000.dat"));
  EXPECT_EQ(Prop(L"__Extract_ZIP_In_Download_Progress__"), L"false");

  std::wstring value;
  ASSERT_TRUE(base::RegistryReadValue(RecordKey(), file + L"__ZIP_Unzip_Folder__", value, 2048));
  EXPECT_EQ(value, unzip);
  ASSERT_TRUE(base::RegistryReadValue(RecordKey(), file + L"__ZIP_EXE_Path__", value, 2048));
  EXPECT_EQ(value, setup);
  base::RegistryDeleteKey(RecordKey(), false);
  // The folder the page downloaded into, for the deletions at the end of the run.
  std::wstring folder;
  ASSERT_TRUE(CanonicalFolder(work_, &folder));
  EXPECT_EQ(app_->download_folders()->Folders(), std::vector<std::wstring>{folder});
}

TEST_F(DownloadMethodTest, AnExistingPackageWithTheExpectedCrcIsOnlyExtracted) {
  std::string package = MakePackage(60);
  std::string name = Publish(UniqueKey() + ".zip", package);
  std::wstring file = work_ + L"present.zip";
  ASSERT_TRUE(testsupport::WriteWholeFile(file, package));
  bridge()->SetProperty(L"isExtractInDownload", L"true");
  Calls calls = Download(servers().NginxUrl("/" + name), file, CrcText(package), false, false);
  ExpectProgressThenFinal(calls, kNoError);
  EXPECT_GE(calls.size(), 2u) << "the extraction's progress comes before the final call";
  for (size_t i = 0; i + 1 < calls.size(); ++i) {
    EXPECT_EQ(calls[i][1], 1) << "the download total never set by a transfer";
  }
  EXPECT_TRUE(servers().NginxRequests(name, 0, 300).empty());
  EXPECT_FALSE(Prop(file + L"__ZIP_Unzip_Folder__").empty());
  base::RegistryDeleteKey(RecordKey(), false);
}

TEST_F(DownloadMethodTest, WithDownloadOnlyAZipIsNotExtracted) {
  std::string package = MakePackage(3);
  std::string name = Publish(UniqueKey() + ".zip", package);
  std::wstring file = work_ + L"only.zip";
  bridge()->SetProperty(L"isExtractInDownload", L"true");
  bridge()->SetProperty(L"isDownloadOnly", L"true");
  Calls calls = Download(servers().NginxUrl("/" + name), file, CrcText(package), false, false);
  ExpectProgressThenFinal(calls, kNoError);
  const LONG size = static_cast<LONG>(package.size());
  EXPECT_EQ(calls.back(), (std::vector<LONG>{kNoError, size, size})) << "no 95 % stop without extraction";
  EXPECT_EQ(Prop(file + L"__ZIP_Unzip_Folder__"), L"");
  EXPECT_TRUE(app_->download_folders()->Folders().empty()) << "only an extraction records its folder";
  EXPECT_NE(Prop(L"__Extract_ZIP_In_Download_Progress__"), L"true");
  std::wstring value;
  EXPECT_FALSE(base::RegistryReadValue(RecordKey(), file + L"__ZIP_Unzip_Folder__", value));
}

TEST_F(DownloadMethodTest, StopDownloadEndsTheTransferWithAbort) {
  std::string data = NoisyBytes(4 * 1048576, 16);
  std::string name = Publish(UniqueKey() + ".bin", data, true);
  for (bool resume : {false, true}) {
    SCOPED_TRACE(resume ? "verified" : "plain");
    std::string key = UniqueKey();
    // The meta URL ends this path in ".meta" and keeps the query: the server
    // answers it with the source's meta.
    std::wstring url = servers().FaultUrl("/slow/" + key + "/" + name + "?chunk=65536&ms=20&src=" + name);
    bool stopped = false;
    Calls calls = Download(url, work_ + Wide(key), L"", false, resume, [&](const std::vector<RecordedCall>& seen) {
      if (stopped || seen.empty() || seen.back().args[2] <= 0) return;
      ScriptArgs none;
      EXPECT_EQ(Call(L"stopDownload", DISPATCH_METHOD, none), S_OK);
      stopped = true;
    });
    ASSERT_TRUE(stopped);
    ExpectProgressThenFinal(calls, kAbort);
    EXPECT_LT(calls.back()[2], static_cast<LONG>(data.size()));
  }
  EXPECT_TRUE(bridge()->run()->cancel()) << "the flag stays set until the next download";
}

TEST_F(DownloadMethodTest, TenFailedVerifiedAttemptsAreFailureAfterRealPauses) {
  std::string name = Publish(UniqueKey() + ".bin", NoisyBytes(1000, 17));  // no meta file
  auto started = std::chrono::steady_clock::now();
  Calls calls = Download(servers().NginxUrl("/" + name), work_ + L"failed.bin", L"", false, true);
  auto seconds = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started);
  ExpectProgressThenFinal(calls, kFailure);
  EXPECT_EQ(servers().NginxRequests(name + ".meta", 10).size(), 10u);
  EXPECT_GE(seconds.count(), 9000) << "nine pauses of a second between ten attempts";
  EXPECT_TRUE(LogHasLine(base::ToAnsi(L"Download fail, download path : " + work_ + L"failed.bin") +
                         ", download result : 4"));
}

TEST_F(DownloadMethodTest, NotFoundWithTheServerUp) {
  std::string name = UniqueKey() + ".bin";  // not on the server
  std::wstring file = work_ + L"missing.bin";
  Calls calls = Download(servers().NginxUrl("/" + name), file, L"", false, false);
  ExpectProgressThenFinal(calls, kFileNotExist);
  EXPECT_EQ(servers().NginxRequests(name, 1).size(), 1u) << "a missing file is not asked for again";
  EXPECT_EQ(testsupport::FileSizeOf(file), -1) << "the error page is not the file: nothing is put at the target";
}

TEST_F(DownloadMethodTest, AUrlWithAQueryGetsTheTimestampAfterAnAmpersand) {
  std::string key = UniqueKey();
  ExpectProgressThenFinal(
      Download(servers().FaultUrl("/ok/" + key + "?size=1000"), work_ + L"query.bin", L"", false, false), kNoError);
  auto asked = servers().FaultRequests(key);
  ASSERT_EQ(asked.size(), 1u);
  EXPECT_NE(asked[0].target.find("?size=1000&timestamp="), std::string::npos) << asked[0].target;
}

TEST_F(DownloadMethodTest, InitDownloadSizeLeavesTheAnnouncedSizeAndNoTempFile) {
  std::string key = UniqueKey();
  std::wstring file = work_ + L"sized.bin";
  ScriptArgs args;
  args.Text(servers().FaultUrl("/ok/" + key + "?size=3000000").c_str()).Text(file.c_str()).Bool(false);
  EXPECT_EQ(Call(L"initDownloadSize", DISPATCH_METHOD, args), S_OK);
  EXPECT_EQ(Prop(L"downloadTotal"), L"3000000");
  EXPECT_FALSE(Exists(file + L".temp"));
  EXPECT_FALSE(Exists(file));
  EXPECT_FALSE(bridge()->run()->size_query());
  EXPECT_EQ(servers().FaultRequests(key).size(), 1u);

  // A server that answers nothing leaves the total as it was.
  ScriptArgs dead;
  dead.Text(L"http://127.0.0.1:1/x.bin").Text(file.c_str()).Bool(false);
  EXPECT_EQ(Call(L"initDownloadSize", DISPATCH_METHOD, dead), S_OK);
  EXPECT_EQ(Prop(L"downloadTotal"), L"3000000");
  EXPECT_FALSE(Exists(file + L".temp"));
}

TEST_F(DownloadMethodTest, AFunctionThatCannotBeMarshalledFailsTheCallAndStartsNoWorker) {
  ScriptArgs args;
  args.Text(L"http://127.0.0.1:1/x.bin").Text((work_ + L"x.bin").c_str()).Text(L"").Bool(false).Bool(false);
  args.Dispatch(nullptr);
  HRESULT hr = Call(L"download", DISPATCH_METHOD, args);
  ASSERT_TRUE(FAILED(hr));
  char line[128];
  snprintf(line, sizeof(line), "EMDownload: CoMarshalInterThreadInterfaceInStream failed with %lx",
           static_cast<unsigned long>(hr));
  EXPECT_TRUE(LogHasLine(line)) << LogText();
  EXPECT_FALSE(LogHasLine("EMDownload -- Finish"));
}

// The read-only check cannot meet a read-only volume under Wine; the worker
// is started by hand with a volume query that reports one.
bool ReadOnlyVolumeFlags(const std::wstring&, DWORD* flags) {
  *flags = FILE_READ_ONLY_VOLUME;
  return true;
}

TEST_F(DownloadMethodTest, AReadOnlyVolumeIsReportedWithoutATransfer) {
  std::string name = Publish(UniqueKey() + ".bin", NoisyBytes(1000, 18));
  auto job = std::make_unique<DownloadJob>();
  job->url = servers().NginxUrl("/" + name);
  job->download_file = work_ + L"readonly.bin";
  job->volume_flags = ReadOnlyVolumeFlags;
  Calls calls = RunJob(std::move(job));
  EXPECT_EQ(calls, (Calls{{kVolumeReadOnly, 0, 0}}));
  EXPECT_TRUE(servers().NginxRequests(name, 0, 300).empty());
  EXPECT_TRUE(LogHasLine(base::ToAnsi(L"Download volume is read only " + work_.substr(0, 3))));
}

// With a short retry pause: ten failed attempts against a server that is gone.
TEST_F(DownloadMethodTest, FailuresAgainstADeadServerAreNoNetwork) {
  auto job = std::make_unique<DownloadJob>();
  job->url = L"http://127.0.0.1:1/gone.bin";
  job->download_file = work_ + L"gone.bin";
  job->is_resume = true;
  job->transfer.retry_pause_ms = 10;
  Calls calls = RunJob(std::move(job));
  ExpectProgressThenFinal(calls, kNoNetwork);
  EXPECT_TRUE(LogHasLine(base::ToAnsi(L"Download fail, download path : " + work_ + L"gone.bin") +
                         ", download result : 8"));
}

TEST_F(DownloadMethodTest, AnExtractionFailureIsTheFinalResultAndTheRecordIsWrittenAnyway) {
  std::string package = MakePackage(1);  // its only entry is "setup.exe"
  std::wstring source = base::MakeUniqueFolder(work_);
  ASSERT_TRUE(testsupport::WriteWholeFile(source + L"readme.txt", "no installer here"));
  std::wstring zip = work_ + L"nosetup.zip";
  ASSERT_TRUE(archive::AddFileToArchive(zip, source + L"readme.txt"));
  std::string without_setup = testsupport::ReadWholeFile(zip);
  std::string name = Publish(UniqueKey() + ".zip", without_setup);
  std::wstring file = work_ + L"nosetup-download.zip";
  bridge()->SetProperty(L"isExtractInDownload", L"true");
  ExpectProgressThenFinal(Download(servers().NginxUrl("/" + name), file, L"", false, false), kFileNotExist);
  std::wstring unzip = Prop(file + L"__ZIP_Unzip_Folder__");
  EXPECT_FALSE(unzip.empty());
  EXPECT_EQ(Prop(file + L"__ZIP_EXE_Path__"), L"");
  std::wstring value;
  ASSERT_TRUE(base::RegistryReadValue(RecordKey(), file + L"__ZIP_Unzip_Folder__", value, 2048));
  EXPECT_EQ(value, unzip);
  EXPECT_EQ(Prop(L"__Extract_ZIP_In_Download_Progress__"), L"false");

  // Not an archive at all: Failure.
  std::string junk = Publish(UniqueKey() + ".zip", "not a zip archive");
  ExpectProgressThenFinal(Download(servers().NginxUrl("/" + junk), work_ + L"junk.zip", L"", false, false),
                          kFailure);
  base::RegistryDeleteKey(RecordKey(), false);
}

TEST_F(DownloadMethodTest, AWorkerThatCannotReachThePageLogsAndEndsWithoutACall) {
  std::string name = Publish(UniqueKey() + ".bin", NoisyBytes(1000, 19));
  auto* job = new DownloadJob;  // no function marshalled into its stream
  job->host = externalmethods::WorkerHostOf(*methods_);
  job->url = servers().NginxUrl("/" + name);
  job->download_file = work_ + L"unreached.bin";
  ASSERT_TRUE(htmlui::StartWorkerThread(job->host.run, DownloadThreadFunc, job));
  const std::string line = "DownloadThreadFunc CoGetInterfaceAndReleaseStream  failed with: ";
  for (int i = 0; i < 500 && LogText().find(line) == std::string::npos; ++i) ::Sleep(10);
  EXPECT_NE(LogText().find(line), std::string::npos) << LogText();
  ::Sleep(50);
  EXPECT_TRUE(servers().NginxRequests(name, 0, 300).empty()) << "no transfer without a page to report to";
}

}  // namespace
}  // namespace stubframework::workflow
