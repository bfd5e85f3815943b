// LogLink: what a writer that may outlive a log writes through.
#include "base/log_link.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <thread>

#include "base/unique_handle.h"

namespace {

using stubframework::base::LogLink;

// Counts its lines; a line may be held inside Write until `release` is set.
class GatedLog : public stubframework::base::Log {
 public:
  void Write(int, const wchar_t*, va_list) override {
    ++lines;
    ::SetEvent(entered.Get());
    ::WaitForSingleObject(release.Get(), INFINITE);
  }
  std::atomic<int> lines{0};
  stubframework::base::UniqueHandle entered{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  stubframework::base::UniqueHandle release{::CreateEventW(nullptr, TRUE, TRUE, nullptr)};
};

TEST(LogLink, ForwardsUntilCutThenDropsWhileAnyReferenceLives) {
  GatedLog log;
  LogLink* link = LogLink::Create(&log);
  ASSERT_NE(link, nullptr);
  link->AddRef();  // a writer's
  link->Trace(L"one %d", 1);
  link->Error(L"two");
  EXPECT_EQ(log.lines, 2);
  link->Cut();
  link->Release();  // the owner's: the writer's reference keeps the link
  link->Trace(L"after the cut");
  EXPECT_EQ(log.lines, 2);
  link->Release();
}

// The owner frees the log once Cut returns: a line already inside the log
// must have ended by then.
TEST(LogLink, CutWaitsForALineBeingWritten) {
  GatedLog log;
  ::ResetEvent(log.release.Get());
  LogLink* link = LogLink::Create(&log);
  ASSERT_NE(link, nullptr);
  std::thread writer([&] { link->Trace(L"slow line"); });
  ASSERT_EQ(::WaitForSingleObject(log.entered.Get(), 5000), WAIT_OBJECT_0);
  std::atomic<bool> cut{false};
  std::thread owner([&] {
    link->Cut();
    cut = true;
  });
  ::Sleep(200);
  EXPECT_FALSE(cut) << "Cut returned while a line was inside the log";
  ::SetEvent(log.release.Get());
  owner.join();
  writer.join();
  EXPECT_TRUE(cut);
  EXPECT_EQ(log.lines, 1);
  link->Release();
}

}  // namespace
