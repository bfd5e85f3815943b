// The list of files a failed run uploads.
#include <gtest/gtest.h>
#include <windows.h>

#include <thread>
#include <vector>

#include "base/temp_folder.h"
#include "telemetry/log_file_list.h"

namespace stubframework::telemetry {
namespace {

TEST(LogFileListTest, AppendsOnlyFilesThatExistInOrder) {
  std::wstring folder = base::MakeUniqueFolder(base::TemporaryPath());
  ASSERT_FALSE(folder.empty());
  std::wstring file = folder + L"msi.log";
  ::CloseHandle(::CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));

  LogFileList list;
  EXPECT_FALSE(list.AppendIfExists(folder + L"missing.log"));
  EXPECT_FALSE(list.AppendIfExists(folder)) << "a folder is not a log";
  EXPECT_FALSE(list.AppendIfExists(L""));
  list.Append(L"C:\\run.log");
  EXPECT_TRUE(list.AppendIfExists(file));
  EXPECT_EQ(list.Snapshot(), (std::vector<std::wstring>{L"C:\\run.log", file}));
  base::DeleteFolderRecursive(folder);
}

TEST(LogFileListTest, AppendsFromSeveralThreadsAreAllKept) {
  LogFileList list;
  std::vector<std::thread> workers;
  for (int t = 0; t < 4; ++t) {
    workers.emplace_back([&list, t] {
      for (int i = 0; i < 500; ++i) list.Append(std::to_wstring(t) + L"-" + std::to_wstring(i));
    });
  }
  for (std::thread& worker : workers) worker.join();
  EXPECT_EQ(list.Snapshot().size(), 2000u);
}

}  // namespace
}  // namespace stubframework::telemetry
