// The self-update check, the self-update worker and the installer-list
// refresh against nginx and the fault server. The check and the list refresh
// go through window.external; the worker runs as a job whose "running stub"
// lies in a folder of the test's own (the method's job names this program).
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "base/temp_folder.h"
#include "downloader/download_test_util.h"
#include "externalmethods/worker_host_of.h"
#include "externalmethods/worker_method_fixture.h"
#include "support/test_servers.h"
#include "trust/test_release_key.h"
#include "utils/signed_meta.h"
#include "workflow/error_handle.h"
#include "workflow/self_update.h"

namespace testsupport {
namespace {

using testsupport::NoisyBytes;
using testsupport::ReadWholeFile;
using testsupport::UniqueKey;

std::string RunningExecutableBytes() { return ReadWholeFile(stubframework::workflow::RunningExecutablePath()); }

bool Exists(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

void WriteFileBytes(const std::wstring& path, const std::string& bytes) {
  HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  DWORD written = 0;
  ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  ::CloseHandle(file);
}

class SelfUpdateTest : public WorkerMethodFixture {
 protected:
  void SetUp() override {
    WorkerMethodFixture::SetUp();
    if (HasFatalFailure()) return;
    std::string error;
    servers_ = testsupport::TestServers::Get(&error);
    ASSERT_NE(servers_, nullptr) << error;
    key_ = UniqueKey();
    ASSERT_TRUE(::CreateDirectoryW(servers_->DocPath(key_).c_str(), nullptr));
    work_ = stubframework::base::MakeUniqueFolder(stubframework::base::WithTrailingBackslash(temp_));
    ASSERT_FALSE(work_.empty());
  }

  // A file in this test's folder of the document root, with its meta.
  std::wstring Publish(const std::string& name, const std::string& bytes) {
    EXPECT_TRUE(servers_->PutFile(key_ + "/" + name, bytes));
    EXPECT_TRUE(servers_->PutFile(key_ + "/" + name + ".meta", testsupport::MakeMeta(bytes)));
    return servers_->NginxUrl("/" + key_ + "/" + name);
  }

  bool NeedSelfUpdate(const std::wstring& url) {
    ScriptArgs args;
    args.Text(url.c_str());
    stubframework::base::UniqueVariant result;
    EXPECT_EQ(Call(L"isNeedSelfUpdate", DISPATCH_METHOD | DISPATCH_PROPERTYGET, args, result.Receive()), S_OK);
    EXPECT_EQ(result.Type(), VT_BOOL);
    return result.Get()->boolVal == VARIANT_TRUE;
  }

  Calls UpdateList(const std::wstring& url, const std::wstring& file, bool resume) {
    RecordingFunction function;
    {
      ScriptArgs args;
      args.Text(url.c_str()).Text(file.c_str()).Bool(false).Bool(resume).Dispatch(&function);
      EXPECT_EQ(Call(L"updateInstallerList", DISPATCH_METHOD, args), S_OK);
    }
    return PumpUntilDone(function);
  }

  // The worker, with what the method would record kept for the test.
  Calls RunSelfUpdate(const std::wstring& url, const std::wstring& self_path,
                      std::function<bool(std::wstring& url)> tokenize = nullptr) {
    RecordingFunction function;
    auto* job = new stubframework::workflow::SelfUpdateJob;
    job->host = stubframework::externalmethods::WorkerHostOf(*methods_);
    job->url = url;
    job->self_path = self_path;
    job->store_stub_name = [this](const std::wstring& name) { stored_names_.push_back(name); };
    job->store_exit_code = [this] { ++exit_code_stores_; };
    job->transfer.retry_pause_ms = 10;
    if (tokenize) job->transfer.tokenize = tokenize;
    EXPECT_EQ(job->callback_stream.Marshal(nullptr, L"test", &function), S_OK);
    EXPECT_TRUE(stubframework::htmlui::StartWorkerThread(job->host.run, stubframework::workflow::SelfUpdateThreadFunc, job));
    return PumpUntilDone(function);
  }

  const testsupport::TestServers* servers_ = nullptr;
  std::string key_;
  std::wstring work_;
  std::vector<std::wstring> stored_names_;
  int exit_code_stores_ = 0;
};

TEST_F(SelfUpdateTest, NeedSelfUpdateComparesTheServedMetaWithTheRunningFile) {
  const std::wstring newer = Publish("newer.exe", NoisyBytes(1500000));
  // Only its meta is asked for: the running file's blocks.
  ASSERT_TRUE(servers_->PutFile(key_ + "/same.exe.meta", testsupport::MakeMeta(RunningExecutableBytes())));
  const std::wstring same = servers_->NginxUrl("/" + key_ + "/same.exe");
  // The ".meta" suffix lands at the end of the path; the query stays.
  const std::wstring redirected =
      servers_->FaultUrl("/status/" + key_ + "?code=302&to=" + stubframework::base::ToAnsi(newer) + ".meta&pad=");
  const std::wstring unfetchable =
      servers_->FaultUrl("/drop/" + key_ + "?size=500&after=0&times=0&pad=");
  struct Row {
    const char* what;
    std::wstring url;
    bool need;
  } rows[] = {
      {"a different file", newer, true},
      {"the running file", same, false},
      {"no meta (404)", servers_->NginxUrl("/" + key_ + "/missing.exe"), false},
      {"a redirected meta, not followed", redirected, false},
      {"a meta that answers but cannot be fetched", unfetchable, true},
  };
  for (const Row& row : rows) EXPECT_EQ(NeedSelfUpdate(row.url), row.need) << row.what;
  EXPECT_TRUE(LogHasLine("EMIsNeedSelfUpdate Result: need update"));
  EXPECT_TRUE(LogHasLine("EMIsNeedSelfUpdate Result: not need update"));
  EXPECT_EQ(servers_->FaultRequests(key_ + ".meta?code=302").size(), 1u) << "asked once, not followed";
}

TEST_F(SelfUpdateTest, TheNewerStubIsSavedBesideTheRunningOneUnderItsUpdateName) {
  const std::string newer = NoisyBytes(2 * 1024 * 1024 + 4321);
  const std::wstring url = Publish("SETUP.EXE", newer);
  Calls calls = RunSelfUpdate(url, work_ + L"setup.exe");
  ASSERT_FALSE(calls.empty());
  for (size_t i = 0; i + 1 < calls.size(); ++i) EXPECT_EQ(calls[i][0], stubframework::workflow::kRunning);
  EXPECT_EQ(calls.back(), (std::vector<LONG>{0, static_cast<LONG>(newer.size()), static_cast<LONG>(newer.size())}));
  EXPECT_EQ(stored_names_, std::vector<std::wstring>{L"SETUP_update.exe"});
  EXPECT_EQ(exit_code_stores_, 1);
  EXPECT_EQ(ReadWholeFile(work_ + L"SETUP_update.exe"), newer);
  EXPECT_EQ(Prop(L"downloadCurrent"), L"0");
  EXPECT_EQ(Prop(L"downloadTotal"), L"1");
}

// A transfer that fails leaves a file that is not the newer stub: its name is
// taken back so that the launcher does not start it, and the exit code that
// makes the launcher look is stored all the same.
TEST_F(SelfUpdateTest, AFailedTransferTakesTheNameBack) {
  const std::string newer = NoisyBytes(2 * 1024 * 1024 + 4321);
  ASSERT_TRUE(servers_->PutFile(key_ + "/setup.exe", newer));
  std::string other = newer;
  other[1024 * 1024 + 7] ^= 0x5A;  // the meta of another second block
  ASSERT_TRUE(servers_->PutFile(key_ + "/setup.exe.meta", testsupport::MakeMeta(other)));
  Calls calls = RunSelfUpdate(servers_->NginxUrl("/" + key_ + "/setup.exe"), work_ + L"setup.exe");
  ASSERT_FALSE(calls.empty());
  // A block that never matches its meta is a damaged file, as for any download.
  EXPECT_EQ(calls.back()[0], stubframework::workflow::kMd5Error);
  EXPECT_EQ(stored_names_, (std::vector<std::wstring>{L"setup_update.exe", L""}));
  EXPECT_EQ(exit_code_stores_, 1);
}

TEST_F(SelfUpdateTest, ANewListReplacesTheOldOneAndLeavesNoTemporary) {
  const std::wstring list = work_ + L"installerlist.js";
  for (bool resume : {false, true}) {
    SCOPED_TRACE(resume ? "block-verified" : "plain");
    WriteFileBytes(list, "var list = 'old';");
    const std::string fresh = "var list = 'new " + std::string(resume ? "verified" : "plain") + "';";
    const std::wstring url = Publish(resume ? "verified.js" : "plain.js", fresh);
    Calls calls = UpdateList(url, list, resume);
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.back()[0], stubframework::workflow::kNoError);
    EXPECT_EQ(ReadWholeFile(list), fresh);
    EXPECT_FALSE(Exists(work_ + L"installerlist__NEW_FILE__.js"));
    EXPECT_TRUE(LogHasLine("Update installerlist " + stubframework::base::ToAnsi(url) + " finished to " +
                           stubframework::base::ToAnsi(list)));
  }
  EXPECT_TRUE(LogHasLine("EMUpdateInstallerList " +
                         stubframework::base::ToAnsi(servers_->NginxUrl("/" + key_ + "/verified.js")) + " " +
                         stubframework::base::ToAnsi(list) + " 0 -1"));
}

TEST_F(SelfUpdateTest, AFailedTransferLeavesTheOldListUntouched) {
  const std::wstring list = work_ + L"installerlist.js";
  WriteFileBytes(list, "var list = 'old';");
  Calls calls = UpdateList(servers_->NginxUrl("/" + key_ + "/missing.js"), list, false);
  ASSERT_FALSE(calls.empty());
  EXPECT_EQ(calls.back()[0], stubframework::workflow::kFileNotExist);
  EXPECT_EQ(ReadWholeFile(list), "var list = 'old';");
}

// With a release key: what the self-update starts must have a .meta the key
// signed and the running stub's own Authenticode signer; a list is loaded only
// with its signature. The "running stub" is a signed copy of a small program,
// and the newer stubs are copies of it signed otherwise (tests/trust).
class ReleaseKeyUpdateTest : public SelfUpdateTest {
 protected:
  void SetUp() override {
    SelfUpdateTest::SetUp();
    if (HasFatalFailure()) return;
    app_->SetReleaseKey(release_.key());
    self_ = work_ + L"setup.exe";
    ASSERT_TRUE(::CopyFileW(Signed(L"genuine_copy.exe").c_str(), self_.c_str(), FALSE));
  }

  static std::wstring Signed(const wchar_t* name) { return std::wstring(TRUST_SIGNED_FIXTURES) + L"\\" + name; }

  // A file, its .meta and the key's signature of the .meta (or `signature`).
  std::wstring PublishSigned(const std::string& name, const std::string& bytes, const std::string* signature = nullptr) {
    const std::string meta = testsupport::MakeMeta(bytes);
    EXPECT_TRUE(servers_->PutFile(key_ + "/" + name, bytes));
    EXPECT_TRUE(servers_->PutFile(key_ + "/" + name + ".meta", meta));
    EXPECT_TRUE(servers_->PutFile(key_ + "/" + name + ".meta.sig", signature ? *signature : release_.Sign(meta)));
    return servers_->NginxUrl("/" + key_ + "/" + name);
  }

  // The update was refused and left nothing for the launcher to start.
  void ExpectRefused(const Calls& calls, const char* what) {
    ASSERT_FALSE(calls.empty()) << what;
    EXPECT_EQ(calls.back()[0], stubframework::workflow::kFailure) << what;
    ASSERT_FALSE(stored_names_.empty()) << what;
    EXPECT_EQ(stored_names_.back(), L"") << what;
    EXPECT_FALSE(Exists(work_ + L"SETUP_update.exe")) << what;
    stored_names_.clear();
  }

  TestReleaseKey release_;
  std::wstring self_;
};

TEST_F(ReleaseKeyUpdateTest, AnyonesBytesWithASelfMadeMetaAreRefused) {
  const std::string program = NoisyBytes(300000);
  // Anyone can make a .meta: without a signature by the key it vouches for nothing.
  ExpectRefused(RunSelfUpdate(Publish("SETUP.EXE", program), self_), "a .meta without a signature");
  EXPECT_TRUE(LogHasLine("Download " + stubframework::base::ToAnsi(servers_->NginxUrl("/" + key_ + "/SETUP.EXE")) +
                         " refused: the .meta has no signature (" +
                         stubframework::base::ToAnsi(servers_->NginxUrl("/" + key_ + "/SETUP.EXE.meta.sig")) + ")"));
  std::string bent = release_.Sign(testsupport::MakeMeta(program));
  bent[bent.size() / 2] ^= 0x01;
  ExpectRefused(RunSelfUpdate(PublishSigned("SETUP.EXE", program, &bent), self_), "a signature with a bit flipped");
  const std::string over_other = release_.Sign(testsupport::MakeMeta(NoisyBytes(300000, 7)));
  ExpectRefused(RunSelfUpdate(PublishSigned("SETUP.EXE", program, &over_other), self_),
                "a signature of another .meta");
  EXPECT_TRUE(LogHasLine("Download " + stubframework::base::ToAnsi(servers_->NginxUrl("/" + key_ + "/SETUP.EXE")) +
                         " refused: the .meta's signature does not verify with the release key (" +
                         stubframework::base::ToAnsi(servers_->NginxUrl("/" + key_ + "/SETUP.EXE.meta.sig")) + ")"));
}

TEST_F(ReleaseKeyUpdateTest, ASignedMetaIsNotEnoughWithoutTheRunningStubsSigner) {
  const struct {
    const wchar_t* file;
    const char* problem;
  } rows[] = {
      {L"other_signer.exe", "is signed by another certificate than the running stub"},
      {L"unsigned.exe", "has no valid Authenticode signature"},
      {L"tampered.exe", "has no valid Authenticode signature"},
      {L"padded.exe", "has bytes beside its signature in or after its certificate table"},
      {L"trailing.exe", "has bytes beside its signature in or after its certificate table"},
  };
  for (const auto& row : rows) {
    const std::string what = stubframework::base::ToAnsi(row.file);
    ExpectRefused(RunSelfUpdate(PublishSigned("SETUP.EXE", ReadWholeFile(Signed(row.file))), self_), what.c_str());
    EXPECT_TRUE(LogHasLine("Self-update " + stubframework::base::ToAnsi(work_) + "SETUP_update.exe refused: the file " +
                           row.problem))
        << what;
    EXPECT_FALSE(Exists(work_ + L"SETUP_update.exe.meta")) << what;
  }
}

TEST_F(ReleaseKeyUpdateTest, TheGenuineNewerStubIsKeptForTheLauncher) {
  const std::string genuine = ReadWholeFile(Signed(L"genuine.exe"));
  Calls calls = RunSelfUpdate(PublishSigned("SETUP.EXE", genuine), self_);
  ASSERT_FALSE(calls.empty());
  EXPECT_EQ(calls.back()[0], stubframework::workflow::kNoError);
  EXPECT_EQ(stored_names_, std::vector<std::wstring>{L"SETUP_update.exe"});
  EXPECT_EQ(ReadWholeFile(work_ + L"SETUP_update.exe"), genuine);
  // Its signed .meta stays beside it, for the check when it is started.
  EXPECT_EQ(ReadWholeFile(work_ + L"SETUP_update.exe.meta"), testsupport::MakeMeta(genuine));
  EXPECT_TRUE(Exists(work_ + L"SETUP_update.exe.meta.sig"));
}

TEST_F(ReleaseKeyUpdateTest, AListIsLoadedOnlyWithItsSignature) {
  const std::wstring list = work_ + L"installerlist.js";
  const std::string served = "window.external.writeMarker('list ran');";
  std::string bent = release_.Sign(served);
  bent[10] ^= 0x80;
  const struct {
    const char* what;
    const std::string* signature;
    int code;
  } rows[] = {
      {"no signature", nullptr, stubframework::workflow::kFailure},
      {"a signature with a bit flipped", &bent, stubframework::workflow::kFailure},
  };
  for (const auto& row : rows) {
    WriteFileBytes(list, "var list = 'bundle';");
    const std::string name = std::string("list_") + (row.signature ? "bent" : "none") + ".js";
    ASSERT_TRUE(servers_->PutFile(key_ + "/" + name, served));
    if (row.signature) ASSERT_TRUE(servers_->PutFile(key_ + "/" + name + ".sig", *row.signature));
    Calls calls = UpdateList(servers_->NginxUrl("/" + key_ + "/" + name), list, false);
    ASSERT_FALSE(calls.empty()) << row.what;
    EXPECT_EQ(calls.back()[0], row.code) << row.what;
    EXPECT_EQ(ReadWholeFile(list), "var list = 'bundle';") << row.what;
    EXPECT_FALSE(Exists(work_ + L"installerlist__NEW_FILE__.js")) << row.what;
  }
  ASSERT_TRUE(servers_->PutFile(key_ + "/signed.js", served));
  ASSERT_TRUE(servers_->PutFile(key_ + "/signed.js.sig", release_.Sign(served)));
  Calls calls = UpdateList(servers_->NginxUrl("/" + key_ + "/signed.js"), list, false);
  ASSERT_FALSE(calls.empty());
  EXPECT_EQ(calls.back()[0], stubframework::workflow::kNoError);
  EXPECT_EQ(ReadWholeFile(list), served);
}

// The self-update's download is a secure one: the .meta's signature goes
// through the token service as the file and its .meta do.
TEST_F(ReleaseKeyUpdateTest, TheSignatureIsAskedForThroughTheTokenServiceToo) {
  const std::string genuine = ReadWholeFile(Signed(L"genuine.exe"));
  const std::wstring url = PublishSigned("SETUP.EXE", genuine);
  std::vector<std::wstring> tokenized;
  Calls calls = RunSelfUpdate(url, self_, [&tokenized](std::wstring& address) {
    tokenized.push_back(address);
    return true;  // the address stays as it is
  });
  ASSERT_FALSE(calls.empty());
  EXPECT_EQ(calls.back()[0], stubframework::workflow::kNoError);
  EXPECT_EQ(tokenized, (std::vector<std::wstring>{url, url + L".meta", url + L".meta.sig"}));
}

}  // namespace
}  // namespace testsupport
