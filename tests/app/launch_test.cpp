// The launch protocol of the real executable, run under Wine.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include "app/finishing_word.h"
#include "app/launch.h"
#include "app/settings_store.h"
#include "base/temp_folder.h"
#include "stub_runner.h"
#include "trust/release_key.h"

namespace stubframework::app {
namespace {

using testsupport::ListFolder;
using testsupport::PathExists;
using testsupport::ReadWholeFile;
using testsupport::RunAndWait;

// A copy of the stub in a folder of the test's own, and a temporary path of
// its own for everything the stub makes.
class LaunchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = base::MakeUniqueFolder(base::TemporaryPath());
    ASSERT_FALSE(root_.empty());
    temp_ = root_ + L"temp\\";
    ASSERT_TRUE(CreateDirectoryW(temp_.c_str(), nullptr));
    stub_ = root_ + L"stub.exe";
    ASSERT_TRUE(CopyFileW(testsupport::StubPath().c_str(), stub_.c_str(), FALSE));
    SetEnvironmentVariableW(L"TMP", temp_.c_str());
    SetEnvironmentVariableW(L"TEMP", temp_.c_str());
    RegDeleteTreeW(HKEY_CURRENT_USER, L"SOFTWARE\\Brelvo\\stubframework\\Tessary");
  }
  void TearDown() override {
    SetEnvironmentVariableW(L"TMP", nullptr);
    SetEnvironmentVariableW(L"TEMP", nullptr);
    base::DeleteFolderRecursive(root_);
    RegDeleteTreeW(HKEY_CURRENT_USER, L"SOFTWARE\\Brelvo\\stubframework\\Tessary");
  }

  // Waits up to wait_ms after the launcher ended for the two lines of the
  // runs it hands over to.
  std::wstring HandOverTo(const std::wstring& source, DWORD* first_id, DWORD* code, DWORD wait_ms = 60000);

  std::wstring root_, temp_, stub_;
};

TEST_F(LaunchTest, FirstLaunchRunsATemporaryCopyAndRemovesIt) {
  EXPECT_EQ(RunAndWait(stub_, L"/QN"), 0u) << "the first process ends with 0 whatever the copy returned";
  // The working copy ran (it kept its log) and its folder is gone again.
  EXPECT_EQ(ListFolder(temp_), std::vector<std::wstring>{L"Tessary_log"});
  EXPECT_EQ(ListFolder(temp_ + L"Tessary_log").size(), 1u);
}

TEST_F(LaunchTest, RunArgumentInCapitalsMakesTheWorkingCopy) {
  EXPECT_EQ(RunAndWait(stub_, L"RUN=1"), 2147483647u);
}

TEST_F(LaunchTest, LocalRedirectionBesideTheExecutableEndsWithOne) {
  ASSERT_TRUE(CreateDirectoryW((stub_ + L".local").c_str(), nullptr));
  EXPECT_EQ(RunAndWait(stub_, L""), 1u);
  EXPECT_EQ(RunAndWait(stub_, L"run=1"), 1u);
  EXPECT_TRUE(ListFolder(temp_).empty()) << "nothing else ran";
}

TEST_F(LaunchTest, FinishingStepWaitsForTheParentThenReplacesTheUsersFile) {
  std::wstring target = root_ + L"Users Stub.exe";
  HANDLE f = CreateFileW(target.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(f, INVALID_HANDLE_VALUE);
  DWORD written = 0;
  WriteFile(f, "old", 3, &written, nullptr);
  CloseHandle(f);

  // A parent that stays alive until the test lets it go.
  STARTUPINFOW si = {sizeof(si)};
  PROCESS_INFORMATION parent = {};
  wchar_t parent_cmd[] = L"cmd.exe /c exit 0";
  ASSERT_TRUE(CreateProcessW(nullptr, parent_cmd, nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr, nullptr, &si,
                             &parent));

  // The test stands in for the launcher and hands over its word.
  std::wstring command = L"\"" + stub_ + L"\" run=1 update=0 shortcut=\"" + target +
                         L"\" newVersionExitCode=7 parentProcessID=" + std::to_wstring(parent.dwProcessId);
  base::UniqueHandle started = StartWithFinishingWord(stub_, root_, command, {7, parent.dwProcessId, target});
  ASSERT_TRUE(started);
  PROCESS_INFORMATION child = {};
  child.hProcess = started.Release();
  child.hThread = CreateEventW(nullptr, FALSE, FALSE, nullptr);  // closed with the rest below
  EXPECT_EQ(WaitForSingleObject(child.hProcess, 1500), static_cast<DWORD>(WAIT_TIMEOUT)) << "waits for the parent";
  EXPECT_EQ(ReadWholeFile(target), "old");

  TerminateProcess(parent.hProcess, 0);
  ASSERT_EQ(WaitForSingleObject(child.hProcess, 30000), static_cast<DWORD>(WAIT_OBJECT_0));
  DWORD code = 0;
  GetExitCodeProcess(child.hProcess, &code);
  EXPECT_EQ(code, 7u);
  EXPECT_EQ(ReadWholeFile(target), ReadWholeFile(stub_)) << "the user's file is now the newer stub";
  EXPECT_TRUE(ListFolder(temp_).empty()) << "the finishing step shows no UI";
  for (HANDLE h : {parent.hProcess, parent.hThread, child.hProcess, child.hThread}) CloseHandle(h);
}

// Anyone can type the finishing run's command line: without the launcher's
// word, or with a word for another copy, nothing is replaced and the run ends
// with the code it was given.
TEST_F(LaunchTest, AFinishingRunWithoutTheLaunchersWordReplacesNothing) {
  std::wstring target = root_ + L"target.exe";
  ASSERT_TRUE(CopyFileW(L"C:\\windows\\system32\\cmd.exe", target.c_str(), FALSE));
  const std::string before = ReadWholeFile(target);
  const std::wstring tail = L" shortcut=\"" + target + L"\" newVersionExitCode=197800 parentProcessID=999999";
  EXPECT_EQ(RunAndWait(stub_, tail), 197800u);
  EXPECT_EQ(ReadWholeFile(target), before) << "a bare command line copies nothing";

  const struct {
    FinishingWord word;
    const char* why;
  } mismatches[] = {
      {{197800, 999999, root_ + L"other.exe"}, "a word for another file"},
      {{197801, 999999, target}, "a word for another exit code"},
      {{197800, 999998, target}, "a word for another launcher"},
  };
  for (const auto& m : mismatches) {
    base::UniqueHandle run = StartWithFinishingWord(stub_, root_, L"\"" + stub_ + L"\"" + tail, m.word);
    ASSERT_TRUE(run);
    ASSERT_EQ(WaitForSingleObject(run.Get(), 30000), static_cast<DWORD>(WAIT_OBJECT_0));
    DWORD code = 0;
    GetExitCodeProcess(run.Get(), &code);
    EXPECT_EQ(code, 197800u) << m.why;
    EXPECT_EQ(ReadWholeFile(target), before) << m.why;
  }

  // The launcher's own word: replaced even when the launcher is gone already.
  base::UniqueHandle run = StartWithFinishingWord(stub_, root_, L"\"" + stub_ + L"\"" + tail, {197800, 999999, target});
  ASSERT_TRUE(run);
  ASSERT_EQ(WaitForSingleObject(run.Get(), 30000), static_cast<DWORD>(WAIT_OBJECT_0));
  EXPECT_EQ(ReadWholeFile(target), ReadWholeFile(stub_));
}

TEST(FinishingWordTest, OnlyAWholeWellFormedWordDecodes) {
  const FinishingWord word{197800, 4242, L"C:\\Users\\u\\Downloads\\setup.exe"};
  const std::string bytes = EncodeFinishingWord(word);
  FinishingWord decoded;
  ASSERT_TRUE(DecodeFinishingWord(bytes, &decoded));
  EXPECT_TRUE(WordMatches(decoded, 197800, 4242, word.target));
  EXPECT_FALSE(WordMatches(decoded, 197800, 4242, word.target + L"x"));

  std::string wrong_tag = bytes;
  wrong_tag[0] = 'X';
  std::string embedded_zero = EncodeFinishingWord({1, 2, std::wstring(L"C:\\a\0b", 6)});
  const struct {
    std::string bytes;
    const char* why;
  } refused[] = {
      {std::string(), "nothing"},
      {bytes.substr(0, 15), "a header cut short"},
      {bytes.substr(0, bytes.size() - 2), "the target cut by one character"},
      {bytes + "xx", "bytes after the target"},
      {wrong_tag, "another tag"},
      {EncodeFinishingWord({1, 2, L""}), "no target"},
      {embedded_zero, "a target with a zero inside"},
      {EncodeFinishingWord({1, 2, std::wstring(32768, L'a')}), "a target longer than any path"},
  };
  for (const auto& r : refused) EXPECT_FALSE(DecodeFinishingWord(r.bytes, &decoded)) << r.why;
  EXPECT_TRUE(DecodeFinishingWord(EncodeFinishingWord({1, 2, std::wstring(32767, L'a')}), &decoded))
      << "the longest path";
}

TEST_F(LaunchTest, NewVersionExitCodeInTheFirstPositionIsNotAFinishingStep) {
  // Both named arguments must follow the program name; this is a working copy.
  std::wstring command = L"newVersionExitCode=5 run=1 parentProcessID=1";
  STARTUPINFOW si = {sizeof(si)};
  PROCESS_INFORMATION pi = {};
  ASSERT_TRUE(CreateProcessW(stub_.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
  WaitForSingleObject(pi.hProcess, 60000);
  DWORD code = 0;
  GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hProcess);
  CloseHandle(pi.hThread);
  EXPECT_EQ(code, 2147483647u);
}

std::wstring RecorderPath() {
  std::string unix_path = ARG_RECORDER_EXE;
  std::wstring path = L"Z:";
  for (char c : unix_path) path.push_back(c == '/' ? L'\\' : static_cast<wchar_t>(c));
  return path;
}

std::wstring WindowsPath(const char* unix_path) {
  std::wstring path = L"Z:";
  for (const char* c = unix_path; *c != '\0'; ++c) path.push_back(*c == '/' ? L'\\' : static_cast<wchar_t>(*c));
  return path;
}

// The newer stub's files as its verified download leaves them: the program,
// and (when they exist) its .meta and the .meta's signature.
void DropNewerStub(const std::wstring& source, const std::wstring& folder) {
  for (const wchar_t* suffix : {L".meta", L".meta.sig"}) {
    CopyFileW((source + suffix).c_str(), (folder + L"newer.exe" + suffix).c_str(), TRUE);
  }
  CopyFileW(source.c_str(), (folder + L"newer.exe").c_str(), TRUE);
}

// The working copy ends with 197800; the first process then runs the newer
// stub named by "update_stub_name" from the copy's folder, twice. The newer
// stub (`source`) is dropped into that folder while the working copy runs.
// Returns the launcher's exit code and what the newer stub recorded.
std::wstring LaunchTest::HandOverTo(const std::wstring& source, DWORD* first_id, DWORD* code, DWORD wait_ms) {
  const std::wstring key = L"HKEY_CURRENT_USER\\SOFTWARE\\Brelvo\\stubframework\\Tessary\\22";
  EXPECT_TRUE(WriteSetting(key, L"selfupdate_code", L"197800"));
  EXPECT_TRUE(WriteSetting(key, L"update_stub_name", L"newer.exe"));
  std::wstring record = root_ + L"record.txt";
  SetEnvironmentVariableW(L"STUB_RECORD_FILE", record.c_str());
  SetEnvironmentVariableW(L"STUB_RECORD_EXIT", L"3");

  std::atomic<bool> done{false};
  std::thread dropper([&] {
    // The copy may end soon after it starts: under load this thread must not
    // be the one left waiting for the processor.
    ::SetThreadPriority(::GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
    while (!done) {
      for (const std::wstring& name : ListFolder(temp_)) {
        std::wstring folder = temp_ + name + L"\\";
        if (PathExists(folder + L"stub.exe") && !PathExists(folder + L"newer.exe")) DropNewerStub(source, folder);
      }
      Sleep(2);
    }
  });
  STARTUPINFOW si = {sizeof(si)};
  PROCESS_INFORMATION first = {};
  std::wstring command = L"\"" + stub_ + L"\" /QN";
  EXPECT_TRUE(CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &first));
  WaitForSingleObject(first.hProcess, 60000);
  done = true;
  dropper.join();
  *code = 0xFFFFFFFF;
  GetExitCodeProcess(first.hProcess, code);
  *first_id = first.dwProcessId;
  CloseHandle(first.hProcess);
  CloseHandle(first.hThread);
  SetEnvironmentVariableW(L"STUB_RECORD_FILE", nullptr);
  SetEnvironmentVariableW(L"STUB_RECORD_EXIT", nullptr);

  // The second run is not waited for; under load a process start under Wine
  // can take seconds.
  std::wstring lines;
  for (DWORD i = 0; i < wait_ms / 25 && std::count(lines.begin(), lines.end(), L'\n') < 2; ++i, Sleep(25)) {
    std::string raw = ReadWholeFile(record);
    lines.assign(reinterpret_cast<const wchar_t*>(raw.data()), raw.size() / sizeof(wchar_t));
  }
  return lines;
}

// A newer stub signed as the running one, with its signed .meta.
TEST_F(LaunchTest, SelfUpdateExitHandsOverToTheNewerStubTwice) {
  DWORD first_id = 0;
  DWORD code = 0;
  std::wstring lines = HandOverTo(WindowsPath(SIGNED_RECORDER_EXE), &first_id, &code);
  EXPECT_EQ(code, 0u);
  std::wstring expected_first = L" /QN run=1 update=0 shortcut=\"" + stub_ + L"\"";
  std::wstring expected = expected_first + L"\n" + expected_first +
                          L" newVersionExitCode=3 parentProcessID=" + std::to_wstring(first_id) + L"\n";
  EXPECT_EQ(lines, expected);
}

// The name is in HKCU and the folder is the user's: anything dropped there,
// unsigned and without a signed .meta, must not run (with the build's key).
TEST_F(LaunchTest, AProgramPlantedAsTheNewerStubIsNotStarted) {
  if (trust::ProductReleaseKey().size == 0) GTEST_SKIP() << "this build has no release key";
  DWORD first_id = 0;
  DWORD code = 0;
  // The launcher decides before it ends: a program it started would have
  // written its line within seconds, even under load.
  std::wstring lines = HandOverTo(RecorderPath(), &first_id, &code, 10000);
  EXPECT_EQ(code, 0u);
  EXPECT_EQ(lines, L"") << "the planted program ran";
}

TEST(RunProcessTest, WaitsAndReturnsTheExitCode) {
  wchar_t system[MAX_PATH];
  GetSystemDirectoryW(system, MAX_PATH);
  LaunchSpec launch{std::wstring(system) + L"\\", L"cmd.exe", L" /c exit 42"};
  EXPECT_EQ(RunProcess(launch, true), 42u);
  launch.command_line = L" /c exit 197800";
  EXPECT_EQ(RunProcess(launch, true), 197800u) << "more than the low 8 bits";
}

TEST(RunProcessTest, MissingProgramGivesZero) {
  EXPECT_EQ(RunProcess({L"C:\\no\\such\\", L"prog.exe", L""}, true), 0u);
}

}  // namespace
}  // namespace stubframework::app
