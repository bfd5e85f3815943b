#include "app/app_log.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <fstream>
#include <memory>
#include <regex>
#include <sstream>
#include <thread>
#include <vector>

#include "base/log.h"
#include "base/log_link.h"
#include "base/temp_folder.h"
#include "base/wide_format.h"

namespace stubframework::app {
namespace {

std::string ReadBinary(const std::wstring& path) {
  std::ifstream in(path.c_str(), std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// Points the temporary path of this process at a folder of the test's own.
class AppLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    wchar_t saved[MAX_PATH] = {};
    GetEnvironmentVariableW(L"TMP", saved, MAX_PATH);
    saved_tmp_ = saved;
    root_ = base::MakeUniqueFolder(base::TemporaryPath());
    ASSERT_FALSE(root_.empty());
    SetEnvironmentVariableW(L"TMP", root_.c_str());
  }
  void TearDown() override {
    SetEnvironmentVariableW(L"TMP", saved_tmp_.empty() ? nullptr : saved_tmp_.c_str());
    base::DeleteFolderRecursive(root_);
  }

  std::wstring saved_tmp_;
  std::wstring root_;
};

TEST(LogLinePrefixTest, TimestampAndLevelWordInTheirFixedFormat) {
  SYSTEMTIME t = {};
  t.wYear = 2024;
  t.wMonth = 1;
  t.wDay = 31;
  t.wHour = 23;
  t.wMinute = 59;
  t.wSecond = 5;
  t.wMilliseconds = 7;
  EXPECT_EQ(LogLinePrefix(t, kLogDebug), "[20240131 23:59:05   7 DEBUG] ");
  t.wMilliseconds = 123;
  EXPECT_EQ(LogLinePrefix(t, kLogError), "[20240131 23:59:05 123 ERROR] ");
  EXPECT_EQ(LogLinePrefix(t, kLogTrace), "[20240131 23:59:05 123 TRACE] ");
  EXPECT_EQ(LogLinePrefix(t, kLogWarning), "[20240131 23:59:05 123 WARNING] ");
  EXPECT_EQ(LogLinePrefix(t, 9), "[20240131 23:59:05 123 ] ");
}

TEST_F(AppLogTest, ThreeLevelsWriteWholeLinesWithTheirWords) {
  std::wstring path;
  {
    AppLog log;
    ASSERT_TRUE(log.is_open());
    path = log.path();
    EXPECT_EQ(path.rfind(root_, 0), 0u) << "the log lives under the temporary path";
    EXPECT_TRUE(std::regex_search(std::string(path.begin(), path.end()),
                                  std::regex(R"(\\installer_log_\d{14}\.txt$)")));
    log.Debug(L"EMSetInstallStatus: %d", 5);
    log.Error(L"wide %s and %S", L"text", "narrow");
    log.Trace(L"HttpTask::Start> %s", L"GET");
    log.Close();
    log.Debug(L"dropped after close");
    std::string text = ReadBinary(path);
    const std::regex line(R"(\[\d{8} \d\d:\d\d:\d\d [ \d]{2}\d (DEBUG|ERROR|TRACE)\] ([^\r\n]*)\r\n)");
    std::vector<std::string> words, messages;
    for (auto it = std::sregex_iterator(text.begin(), text.end(), line); it != std::sregex_iterator(); ++it) {
      words.push_back((*it)[1]);
      messages.push_back((*it)[2]);
    }
    EXPECT_EQ(words, (std::vector<std::string>{"DEBUG", "ERROR", "TRACE"}));
    EXPECT_EQ(messages, (std::vector<std::string>{"EMSetInstallStatus: 5", "wide text and narrow",
                                                  "HttpTask::Start> GET"}));
    EXPECT_EQ(text.find("dropped"), std::string::npos);
  }
  EXPECT_FALSE(Exists(path)) << "destruction deletes the log's folder";
}

TEST_F(AppLogTest, FormatEndingInNewlineLeavesAnEmptyLine) {
  AppLog log;
  log.Debug(L"Property %s: %s\n", L"lang", L"en");
  log.Close();
  std::string text = ReadBinary(log.path());
  EXPECT_NE(text.find("DEBUG] Property lang: en\r\n\r\n"), std::string::npos) << text;
}

TEST(LimitTextConversionsTest, EveryTextConversionWithoutAPrecisionGetsOne) {
  const struct {
    const wchar_t* format;
    const wchar_t* limited;
  } cases[] = {
      {L"%s", L"%.3s"},
      {L"%S and %ls and %hs and %ws", L"%.3S and %.3ls and %.3hs and %.3ws"},
      {L"EMSetDataToReg %d, %s, %s, %s", L"EMSetDataToReg %d, %.3s, %.3s, %.3s"},
      {L"[%-10s|%10s|%*s]", L"[%-10.3s|%10.3s|%*.3s]"},
      // An explicit precision stays, even a smaller or a larger one.
      {L"%.2s %.5000s %.*s", L"%.2s %.5000s %.*s"},
      // Not conversions of text.
      {L"%d %5u %x %08lx %I64u %p %c %f", L"%d %5u %x %08lx %I64u %p %c %f"},
      {L"100%% %%s done", L"100%% %%s done"},
      {L"trailing %", L"trailing %"},
      {L"", L""},
  };
  for (const auto& c : cases) EXPECT_EQ(base::LimitTextConversions(c.format, 3), c.limited) << c.format;
}

TEST_F(AppLogTest, EachTextArgumentIsCutToTheLimitSoOneCallCannotFillTheDisk) {
  AppLog log;
  const std::wstring huge(10 * 1024 * 1024, L'x');
  const std::wstring at_limit(base::kMaxLoggedTextChars, L'y');
  log.Debug(L"EMSetProperty %s, %s", huge.c_str(), L"name");
  log.Debug(L"%s|%S|%d", at_limit.c_str(), std::string(5000, 'z').c_str(), 7);
  log.Close();
  std::string text = ReadBinary(log.path());
  EXPECT_LT(text.size(), 8000u);
  const std::string kept(base::kMaxLoggedTextChars, 'x');
  EXPECT_NE(text.find("EMSetProperty " + kept + ", name\r\n"), std::string::npos);
  // A text of exactly the limit is whole; the other arguments follow the cut one.
  EXPECT_NE(text.find(std::string(base::kMaxLoggedTextChars, 'y') + "|" +
                      std::string(base::kMaxLoggedTextChars, 'z') + "|7\r\n"),
            std::string::npos);
}

TEST_F(AppLogTest, ConcurrentWritersKeepLinesWhole) {
  AppLog log;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&log, t] {
      for (int i = 0; i < 200; ++i) log.Debug(L"writer %d line %d of a longer message body", t, i);
    });
  }
  for (auto& th : threads) th.join();
  log.Close();
  std::string text = ReadBinary(log.path());
  const std::regex line(R"(\[[^\]]+ DEBUG\] writer \d line \d+ of a longer message body\r\n)");
  size_t whole = std::distance(std::sregex_iterator(text.begin(), text.end(), line), std::sregex_iterator());
  EXPECT_EQ(whole, 800u);
}

// The engine writes through a link, from threads the application cannot
// always join: the run log goes (and its folder with it) while a writer still
// writes, and the writer's lines then go nowhere instead of into freed memory.
TEST_F(AppLogTest, ALinkWritesIntoTheLogUntilItGoesThenDropsLines) {
  auto log = std::make_unique<AppLog>();
  ASSERT_TRUE(log->is_open());
  base::LogLink* link = log->NewLink();
  ASSERT_NE(link, nullptr);
  link->Trace(L"through the link %d", 7);
  EXPECT_NE(ReadBinary(log->path()).find("TRACE] through the link 7"), std::string::npos);
  const std::wstring folder = log->folder();
  std::atomic<bool> stop{false};
  std::atomic<int> written{0};
  std::thread writer([&] {
    while (!stop) {
      link->Trace(L"a late engine line");
      ++written;
    }
  });
  for (int i = 0; i < 500 && written < 20; ++i) Sleep(2);
  log.reset();
  const int at_end = written;
  for (int i = 0; i < 500 && written < at_end + 20; ++i) Sleep(2);
  stop = true;
  writer.join();
  link->Release();
  EXPECT_GT(written, at_end) << "the writer went on after the log had gone";
  EXPECT_FALSE(Exists(folder));
}

TEST_F(AppLogTest, UnusableTemporaryFolderMakesASilentSink) {
  SetEnvironmentVariableW(L"TMP", L"C:\\no\\such\\folder\\anywhere");
  AppLog log;
  EXPECT_FALSE(log.is_open());
  EXPECT_TRUE(log.path().empty());
  log.Debug(L"nothing %d", 1);
  log.Error(L"nothing");
  log.Trace(L"nothing");
}

TEST_F(AppLogTest, UniqueFoldersCountUpFromTheTickCount) {
  std::wstring a = base::MakeUniqueFolder(root_);
  std::wstring b = base::MakeUniqueFolder(root_);
  ASSERT_FALSE(a.empty());
  ASSERT_FALSE(b.empty());
  EXPECT_NE(a, b);
  EXPECT_EQ(a.back(), L'\\');
  EXPECT_TRUE(std::regex_match(std::string(a.begin() + root_.size(), a.end()), std::regex(R"([0-9a-f]+\\)")));
  EXPECT_TRUE(base::MakeUniqueFolder(root_ + L"missing\\").empty());
}

TEST_F(AppLogTest, RecursiveDeleteRemovesNestedContentsAndReadOnlyFiles) {
  std::wstring top = base::MakeUniqueFolder(root_);
  ASSERT_TRUE(CreateDirectoryW((top + L"a").c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryW((top + L"a\\b").c_str(), nullptr));
  for (const wchar_t* name : {L"f.txt", L"a\\g.txt", L"a\\b\\h.txt"}) {
    HANDLE f = CreateFileW((top + name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(f, INVALID_HANDLE_VALUE);
    CloseHandle(f);
  }
  SetFileAttributesW((top + L"a\\g.txt").c_str(), FILE_ATTRIBUTE_READONLY);
  EXPECT_TRUE(base::DeleteFolderRecursive(top));
  EXPECT_FALSE(Exists(top));
  EXPECT_FALSE(base::DeleteFolderRecursive(top)) << "a missing folder is not removed";
}

}  // namespace
}  // namespace stubframework::app
