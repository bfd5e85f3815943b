// Deleting a folder in a place others can write: each entry is judged on the
// handle it is deleted through, so a link swapped in between the listing and
// the deletion (through the deletion's hook, as another process would) is not
// followed, and what it leads to survives. The run log's kept copy is made
// through handles checked the same way.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>

#include "app/app_log.h"
#include "base/log.h"
#include "base/temp_folder.h"

namespace stubframework::base {
namespace {

const std::wstring kFixture = STUB_SWAP_FIXTURE;

bool Exists(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool Write(const std::wstring& path, const char* text) {
  HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  bool ok = ::WriteFile(file, text, static_cast<DWORD>(strlen(text)), &written, nullptr) != FALSE;
  ::CloseHandle(file);
  return ok;
}

bool IsLink(const std::wstring& path) {
  DWORD attributes = ::GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

class DeletionSwapTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!IsLink(kFixture + L"\\root_link")) {
      GTEST_SKIP() << "no link fixture: the swap_fixture test makes Unix symbolic links, which Wine shows as "
                      "junctions; CreateSymbolicLinkW does nothing under Wine";
    }
    test_ = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    root_ = kFixture + L"\\work\\" + std::wstring(test_.begin(), test_.end());
    ASSERT_TRUE(::CreateDirectoryW(root_.c_str(), nullptr) || ::GetLastError() == ERROR_ALREADY_EXISTS);
  }

  // Moves `name` (in the root) out of the way and puts a link to `target`
  // (a path in the fixture) in its place, as another process would. A Unix
  // shell does it: Wine's MoveFileW moves what a link leads to, not the link.
  DeletionHook SwapIn(const std::wstring& name, const std::string& target) {
    return [this, name, target](const std::wstring& path) {
      if (path != root_ + L"\\" + name) return;
      const std::string unix_root = std::string(STUB_SWAP_FIXTURE_UNIX) + "/work/" + test_;
      const std::string unix_entry = unix_root + "/" + std::string(name.begin(), name.end());
      std::string script = "mv '" + unix_entry + "' '" + unix_root + "_moved' && ln -s '" +
                           STUB_SWAP_FIXTURE_UNIX + "/" + target + "' '" + unix_entry + "'";
      std::wstring command = L"Z:\\bin\\sh -c \"" + std::wstring(script.begin(), script.end()) + L"\"";
      STARTUPINFOW startup = {sizeof(startup)};
      PROCESS_INFORMATION process = {};
      if (!::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                            &process)) {
        return;
      }
      ::CloseHandle(process.hThread);
      ::CloseHandle(process.hProcess);
      // Wine does not wait for a Unix process: watch for its work instead (a
      // link to a file shows no reparse point under Wine, only its target).
      auto done = [&] { return Exists(root_ + L"_moved") && Exists(path); };
      for (int i = 0; i < 250 && !done(); ++i) ::Sleep(20);
      swapped_ = done();
    };
  }

  std::string test_;
  std::wstring root_;
  bool swapped_ = false;
};

TEST_F(DeletionSwapTest, AFolderSwappedForAJunctionAfterTheListingIsNotFollowed) {
  ASSERT_TRUE(::CreateDirectoryW((root_ + L"\\victim").c_str(), nullptr));
  ASSERT_TRUE(Write(root_ + L"\\victim\\inside.txt", "x"));
  ASSERT_TRUE(Write(root_ + L"\\sibling.txt", "x"));
  DeleteFolderRecursive(root_, SwapIn(L"victim", "outside"));
  ASSERT_TRUE(swapped_) << "the swap happened between the listing and the deletion";
  EXPECT_TRUE(Exists(kFixture + L"\\outside\\canary.txt")) << "the junction was followed";
  EXPECT_TRUE(Exists(kFixture + L"\\outside\\canary_file.txt"));
  EXPECT_FALSE(Exists(root_ + L"\\sibling.txt")) << "what is really in the folder goes";
}

TEST_F(DeletionSwapTest, AFileSwappedForALinkAfterTheListingIsNotFollowed) {
  ASSERT_TRUE(Write(root_ + L"\\victim.txt", "x"));
  ASSERT_TRUE(Write(root_ + L"\\sibling.txt", "x"));
  DeleteFolderRecursive(root_, SwapIn(L"victim.txt", "outside/canary_file.txt"));
  ASSERT_TRUE(swapped_);
  EXPECT_TRUE(Exists(kFixture + L"\\outside\\canary_file.txt")) << "the link's target was deleted";
  EXPECT_FALSE(Exists(root_ + L"\\sibling.txt"));
}

TEST_F(DeletionSwapTest, AJunctionNamedAsTheFolderIsNotFollowed) {
  DeleteFolderRecursive(kFixture + L"\\root_link");
  DeleteFolderRecursive(kFixture + L"\\root_link\\");
  EXPECT_TRUE(Exists(kFixture + L"\\outside\\canary.txt"));
  EXPECT_TRUE(Exists(kFixture + L"\\outside\\canary_file.txt"));
}

// The run log's kept copy in %TEMP%\<name>_log, a folder of a fixed name in
// a folder the user writes: made only through handles that are what they say.
std::string ReadAll(const std::wstring& path) {
  HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return std::string();
  std::string text;
  char buffer[4096];
  DWORD read = 0;
  while (::ReadFile(file, buffer, sizeof(buffer), &read, nullptr) && read > 0) text.append(buffer, read);
  ::CloseHandle(file);
  return text;
}

std::wstring NameOf(const std::wstring& path) { return path.substr(path.find_last_of(L'\\') + 1); }

TEST(KeptLogTest, TheCopyHoldsTheLogAsWrittenAndIsNeverWrittenOver) {
  std::wstring temp = MakeUniqueFolder(TemporaryPath());
  ASSERT_FALSE(temp.empty());
  {
    app::AppLog log;
    ASSERT_TRUE(log.is_open());
    LogError(&log, L"kept line %d", 7);
    ASSERT_TRUE(log.KeepCopyIn(temp, L"Prod_log"));
    const std::wstring kept = temp + L"Prod_log\\" + NameOf(log.path());
    EXPECT_EQ(ReadAll(kept), ReadAll(log.path()));
    EXPECT_NE(ReadAll(kept).find("kept line 7"), std::string::npos);
    // A second copy under the same name (planted, or an earlier run's) is not overwritten.
    LogError(&log, L"later line");
    EXPECT_FALSE(log.KeepCopyIn(temp, L"Prod_log"));
    EXPECT_EQ(ReadAll(kept).find("later line"), std::string::npos);
  }
  EXPECT_TRUE(DeleteFolderRecursive(temp));
}

TEST(KeptLogTest, AKeptFolderThatIsALinkGetsNoCopy) {
  const std::wstring temp = kFixture + L"\\temp\\";
  if (!IsLink(temp + L"Linked_log")) GTEST_SKIP() << "no link fixture (the swap_fixture test makes it)";
  app::AppLog log;
  ASSERT_TRUE(log.is_open());
  EXPECT_FALSE(log.KeepCopyIn(temp, L"Linked_log"));
  EXPECT_FALSE(Exists(kFixture + L"\\outside\\" + NameOf(log.path()))) << "written through the link";
}

TEST(DeletionTest, ANestedTreeWithReadOnlyEntriesGoesWhole) {
  std::wstring root = MakeUniqueFolder(TemporaryPath());
  ASSERT_FALSE(root.empty());
  ASSERT_TRUE(::CreateDirectoryW((root + L"a").c_str(), nullptr));
  ASSERT_TRUE(::CreateDirectoryW((root + L"a\\b").c_str(), nullptr));
  ASSERT_TRUE(Write(root + L"a\\b\\deep.txt", "x"));
  ASSERT_TRUE(Write(root + L"a\\locked.txt", "x"));
  ASSERT_TRUE(::SetFileAttributesW((root + L"a\\locked.txt").c_str(), FILE_ATTRIBUTE_READONLY));
  ASSERT_TRUE(::CreateDirectoryW((root + L"empty").c_str(), nullptr));
  EXPECT_TRUE(DeleteFolderRecursive(root));
  EXPECT_FALSE(Exists(root));
  EXPECT_FALSE(DeleteFolderRecursive(root)) << "nothing left to remove";
  EXPECT_FALSE(DeleteFolderRecursive(L""));
}

TEST(DeletionTest, AFileNamedAsTheFolderIsNotDeleted) {
  std::wstring root = MakeUniqueFolder(TemporaryPath());
  ASSERT_FALSE(root.empty());
  ASSERT_TRUE(Write(root + L"plain.txt", "x"));
  EXPECT_FALSE(DeleteFolderRecursive(root + L"plain.txt"));
  EXPECT_TRUE(Exists(root + L"plain.txt"));
  EXPECT_TRUE(DeleteFolderRecursive(root));
}

}  // namespace
}  // namespace stubframework::base
