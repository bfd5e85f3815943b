// This test program carries the page tree appended to itself and signed, as the
// product carries its bundle; ResourceFolder extracts it from the running file.
#include <gtest/gtest.h>

#include "app/app_log.h"
#include "app/resource_folder.h"
#include "archive/archive_test_support.h"

namespace stubframework::app {
namespace {

using namespace testsupport::zip;

TEST(ResourceFolderTest, BundleOfTheRunningExecutableIsExtractedAndRemovedAgain) {
  app::AppLog log;
  std::wstring folder;
  {
    ResourceFolder resources(&log);
    ASSERT_TRUE(resources.extracted());
    folder = resources.folder();
    EXPECT_EQ(folder.rfind(base::TemporaryPath(), 0), 0u);
    EXPECT_EQ(folder.back(), L'\\');
    for (const std::wstring& name : TreeFiles()) {
      EXPECT_TRUE(ReadBytes(folder + name) == ReadBytes(Fixture(L"tree\\" + name))) << name;
    }
    std::string text = ReadBytes(log.path());
    size_t loading = text.find("Load Resource from pe.");
    size_t finished = text.find("Load Resource from pe finished.");
    std::string success = "load resource success, temporary folder path : " + std::string(folder.begin(), folder.end());
    EXPECT_NE(loading, std::string::npos) << text;
    EXPECT_LT(loading, finished) << text;
    EXPECT_LT(finished, text.find(success)) << text;
    EXPECT_NE(text.find(success), std::string::npos) << text;
  }
  EXPECT_FALSE(Exists(folder)) << "destruction deletes the folder";
  EXPECT_EQ(ReadBytes(log.path()).find("Delete Temp folder failed!"), std::string::npos);
}

TEST(ResourceFolderTest, FolderThatCannotBeDeletedIsLogged) {
  app::AppLog log;
  std::wstring folder;
  base::UniqueHandle held;
  {
    ResourceFolder resources(&log);
    ASSERT_TRUE(resources.extracted());
    folder = resources.folder();
    // An open handle without delete sharing keeps the file, and so the folder.
    held.Reset(::CreateFileW((folder + L"Load.html").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                             0, nullptr));
    ASSERT_TRUE(held);
  }
  EXPECT_NE(ReadBytes(log.path()).find("Delete Temp folder failed!"), std::string::npos);
  held.Reset();
  base::DeleteFolderRecursive(folder);
}

}  // namespace
}  // namespace stubframework::app
