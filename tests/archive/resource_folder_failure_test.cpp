// ResourceFolder in a program that carries no bundle (this test program).
#include <gtest/gtest.h>

#include "app/app_log.h"
#include "app/resource_folder.h"
#include "archive/archive_test_support.h"

namespace stubframework::app {
namespace {

using namespace testsupport::zip;

TEST(ResourceFolderWithoutBundleTest, NothingIsExtractedTheFailureIsLoggedAndTheFolderRemoved) {
  app::AppLog log;
  std::wstring folder;
  {
    ResourceFolder resources(&log);
    EXPECT_FALSE(resources.extracted());
    folder = resources.folder();
    ASSERT_FALSE(folder.empty());
    EXPECT_TRUE(Exists(folder));
  }
  EXPECT_FALSE(Exists(folder));
  std::string text = ReadBytes(log.path());
  EXPECT_NE(text.find("Load Resource from pe."), std::string::npos) << text;
  EXPECT_NE(text.find("Load Resource from pe failed."), std::string::npos) << text;
  // The reason comes first: this program's image has no archive after it.
  size_t reason = text.find("UI bundle refused: no archive lies before the certificate table or the end of the file");
  EXPECT_LT(reason, text.find("Load Resource from pe failed.")) << text;
  EXPECT_EQ(text.find("load resource success"), std::string::npos) << text;
}

}  // namespace
}  // namespace stubframework::app
