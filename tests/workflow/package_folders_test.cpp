// Which package folders the end of a run may delete: the rule over canonical
// paths, the canonical form of real folders under every spelling, the
// machine's own folders, and the deletion with its log lines.
#include <gtest/gtest.h>
#include <windows.h>
#include <shlobj.h>

#include <algorithm>
#include <cwctype>
#include <string>
#include <vector>

#include "base/log.h"
#include "base/temp_folder.h"
#include "base/wide_format.h"
#include "workflow/canonical_folder.h"
#include "workflow/folder_deletion_rule.h"
#include "workflow/package_folders.h"

namespace stubframework::workflow {
namespace {

class RecordingLog : public base::Log {
 public:
  void Write(int, const wchar_t* format, va_list args) override { lines.push_back(base::FormatV(format, args)); }
  bool Has(const std::wstring& part) const {
    return std::any_of(lines.begin(), lines.end(),
                       [&](const std::wstring& line) { return line.find(part) != std::wstring::npos; });
  }
  std::vector<std::wstring> lines;
};

bool Exists(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::wstring Upper(std::wstring text) {
  for (wchar_t& c : text) c = static_cast<wchar_t>(std::towupper(c));
  return text;
}

std::wstring Canonical(const std::wstring& path) {
  std::wstring canonical;
  EXPECT_TRUE(CanonicalFolder(path, &canonical)) << path;
  return canonical;
}

FolderRules MachineRules() {
  FolderRules rules;
  rules.temporary = L"C:\\users\\me\\Temp";
  rules.download_folders = {L"D:\\Downloads", L"C:\\", L"C:\\Windows\\Setup", L"C:\\users\\me",
                            L"\\\\server\\share\\dl"};
  rules.protected_folders = {L"C:\\Windows", L"C:\\Windows\\system32", L"C:\\Program Files",
                             L"C:\\users\\me",  L"C:\\users",            L"C:\\users\\me\\Desktop"};
  rules.system_trees = {L"C:\\Windows", L"C:\\Program Files"};
  return rules;
}

TEST(FolderDeletionRuleTest, OnlyFoldersStrictlyBelowAnAcceptableRootMayGo) {
  using V = FolderDeletion;
  struct Case {
    const wchar_t* folder;
    FolderDeletion verdict;
  };
  const Case cases[] = {
      {L"C:\\users\\me\\Temp\\1a2b", V::kAllowed},
      {L"c:\\USERS\\ME\\temp\\1A2B\\inner", V::kAllowed},  // letter case
      {L"C:\\users\\me\\Temp\\1a2b\\", V::kAllowed},       // trailing separator
      {L"C:\\users\\me\\Temp", V::kOutsideRoots},           // the root itself
      {L"C:\\users\\me\\Temp\\", V::kOutsideRoots},
      {L"C:\\users\\me\\Temp2\\x", V::kOutsideRoots},  // a sibling that shares the text
      {L"C:\\users\\me\\Tem", V::kOutsideRoots},
      {L"D:\\Downloads\\pkg", V::kAllowed},  // below the page's download folder
      {L"D:\\Downloads", V::kOutsideRoots},
      {L"D:\\Downloads2\\pkg", V::kOutsideRoots},
      {L"\\\\server\\share\\dl\\pkg", V::kAllowed},
      {L"\\\\server\\share\\other", V::kOutsideRoots},
      {L"C:\\data\\pkg", V::kOutsideRoots},            // a download into "C:\" makes no root
      {L"C:\\Windows\\Setup\\pkg", V::kOutsideRoots},  // nor one inside the Windows folder
      {L"C:\\users\\me\\Documents\\pkg", V::kOutsideRoots},  // nor the profile folder itself
      {L"C:\\", V::kProtected},
      {L"D:\\", V::kProtected},
      {L"\\\\server\\share", V::kProtected},
      {L"\\\\server\\share\\", V::kProtected},
      {L"C:\\Windows", V::kProtected},
      {L"c:\\windows\\SYSTEM32", V::kProtected},
      {L"C:\\Program Files", V::kProtected},
      {L"C:\\users", V::kProtected},  // holds a profile
      {L"C:\\users\\me", V::kProtected},
      {L"C:\\users\\me\\Desktop", V::kProtected},
      {L"", V::kProtected},
  };
  const FolderRules rules = MachineRules();
  for (const Case& c : cases) EXPECT_EQ(JudgeFolderDeletion(c.folder, rules), c.verdict) << c.folder;
}

TEST(FolderDeletionRuleTest, ATemporaryFolderThatIsNoAcceptableRootAllowsNothing) {
  FolderRules rules = MachineRules();
  rules.download_folders.clear();
  // The environment names the temporary folder, and the user sets it.
  for (const wchar_t* temporary : {L"C:\\", L"C:\\users\\me", L"C:\\Windows\\Temp", L"C:\\Program Files\\Temp"}) {
    rules.temporary = temporary;
    std::wstring below = base::WithTrailingBackslash(temporary) + L"pkg";
    EXPECT_EQ(JudgeFolderDeletion(below, rules), FolderDeletion::kOutsideRoots) << below;
  }
  rules.temporary.clear();
  EXPECT_EQ(JudgeFolderDeletion(L"C:\\users\\me\\Temp\\pkg", rules), FolderDeletion::kOutsideRoots);
}

class CanonicalFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    scratch_ = base::MakeUniqueFolder(base::TemporaryPath());
    ASSERT_FALSE(scratch_.empty());
    folder_ = scratch_ + L"A Long Folder Name";
    ASSERT_TRUE(::CreateDirectoryW(folder_.c_str(), nullptr));
    ASSERT_TRUE(::CreateDirectoryW((folder_ + L"\\inner").c_str(), nullptr));
  }
  void TearDown() override { base::DeleteFolderRecursive(scratch_); }

  std::wstring scratch_;  // with a trailing backslash
  std::wstring folder_;   // without one
};

TEST_F(CanonicalFolderTest, EverySpellingOfAFolderGivesTheSamePath) {
  const std::wstring expected = Canonical(folder_);
  EXPECT_EQ(::CompareStringOrdinal(expected.c_str(), -1, folder_.c_str(), -1, TRUE), CSTR_EQUAL) << expected;
  wchar_t short_name[MAX_PATH] = {};
  ASSERT_GT(::GetShortPathNameW(folder_.c_str(), short_name, MAX_PATH), 0u);
  ASSERT_NE(std::wstring(short_name), folder_) << "an 8.3 name differs from the long one";
  std::wstring slashes = folder_;
  std::replace(slashes.begin(), slashes.end(), L'\\', L'/');
  for (const std::wstring& spelling :
       {folder_ + L"\\", folder_ + L"\\\\", L"\\\\?\\" + folder_, Upper(folder_), std::wstring(short_name),
        folder_ + L"\\inner\\..", folder_ + L"\\.\\", folder_ + L"\\inner\\..\\..\\A Long Folder Name", slashes}) {
    EXPECT_EQ(Canonical(spelling), expected) << spelling;
  }
  EXPECT_EQ(Canonical(folder_ + L"\\inner"), expected + L"\\inner");
}

TEST_F(CanonicalFolderTest, RelativeDeviceMissingAndFilePathsHaveNone) {
  HANDLE file = ::CreateFileW((folder_ + L"\\file.txt").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  ::CloseHandle(file);
  std::wstring with_nul = folder_;
  with_nul.push_back(L'\0');
  with_nul += L"\\inner";
  for (const std::wstring& path :
       {std::wstring(), std::wstring(L"A Long Folder Name"), std::wstring(L"..\\x"),
        folder_.substr(2),                 // "\users\...": rooted, no drive
        folder_.substr(0, 2) + L"x",       // "C:x": relative to the drive's folder
        std::wstring(L"\\\\.\\C:\\"), std::wstring(L"\\\\?\\GLOBALROOT\\Device"), folder_ + L"\\missing",
        folder_ + L"\\file.txt", with_nul}) {
    std::wstring canonical = L"unchanged";
    EXPECT_FALSE(CanonicalFolder(path, &canonical)) << path;
    EXPECT_EQ(canonical, L"unchanged");
  }
}

TEST_F(CanonicalFolderTest, ADriveRootKeepsItsSeparator) {
  EXPECT_EQ(Canonical(L"C:\\"), L"C:\\");
  EXPECT_EQ(Canonical(L"c:\\windows\\.."), L"C:\\");
}

TEST_F(CanonicalFolderTest, DownloadFoldersAreRecordedOnceEachInCanonicalForm) {
  DownloadFolders folders;
  EXPECT_TRUE(folders.Record(folder_ + L"\\a.zip"));
  EXPECT_TRUE(folders.Record(Upper(folder_) + L"\\b.zip"));
  EXPECT_TRUE(folders.Record(folder_ + L"\\inner\\c.zip"));
  EXPECT_FALSE(folders.Record(folder_ + L"\\missing\\d.zip"));
  EXPECT_FALSE(folders.Record(L"relative.zip"));
  const std::wstring expected = Canonical(folder_);
  EXPECT_EQ(folders.Folders(), (std::vector<std::wstring>{expected, expected + L"\\inner"}));
}

TEST_F(CanonicalFolderTest, ThisMachinesSystemAndProfileFoldersAreProtected) {
  const FolderRules rules = SystemFolderRules({});
  wchar_t windows[MAX_PATH] = {}, system[MAX_PATH] = {}, program_files[MAX_PATH] = {}, profile[MAX_PATH] = {};
  ASSERT_GT(::GetWindowsDirectoryW(windows, MAX_PATH), 0u);
  ASSERT_GT(::GetSystemDirectoryW(system, MAX_PATH), 0u);
  ASSERT_TRUE(SUCCEEDED(::SHGetFolderPathW(nullptr, CSIDL_PROGRAM_FILESX86, nullptr, 0, program_files)));
  ASSERT_TRUE(SUCCEEDED(::SHGetFolderPathW(nullptr, CSIDL_PROFILE, nullptr, 0, profile)));
  const std::wstring profiles = std::wstring(profile).substr(0, std::wstring(profile).find_last_of(L'\\'));
  for (const std::wstring& folder : {std::wstring(windows), std::wstring(system), std::wstring(program_files),
                                     std::wstring(profile), profiles, std::wstring(L"C:\\")}) {
    EXPECT_EQ(JudgeFolderDeletion(Canonical(folder), rules), FolderDeletion::kProtected) << folder;
  }
  EXPECT_EQ(JudgeFolderDeletion(Canonical(folder_), rules), FolderDeletion::kAllowed) << rules.temporary;
  EXPECT_EQ(JudgeFolderDeletion(Canonical(base::TemporaryPath()), rules), FolderDeletion::kOutsideRoots);
}

TEST_F(CanonicalFolderTest, DeletionGoesOnlyWhereTheRulesAllowAndLogsEveryFolderItLeaves) {
  RecordingLog log;
  FolderRules rules;
  rules.temporary = Canonical(folder_);
  EXPECT_TRUE(DeletePackageFolder(&log, folder_ + L"\\INNER\\", rules));
  EXPECT_FALSE(Exists(folder_ + L"\\inner"));
  EXPECT_TRUE(log.lines.empty());

  // The root itself, through ".." from below it.
  EXPECT_FALSE(DeletePackageFolder(&log, folder_ + L"\\x\\..", rules));
  EXPECT_FALSE(DeletePackageFolder(&log, folder_, rules));
  EXPECT_TRUE(Exists(folder_));
  ASSERT_EQ(log.lines.size(), 2u);
  EXPECT_TRUE(log.Has(L"Package folder left alone, not below the temporary folder or a download folder: " + folder_ +
                      L"\\x\\.. (" + rules.temporary + L")"));
  EXPECT_FALSE(DeletePackageFolder(&log, L"C:\\", rules));
  EXPECT_TRUE(log.Has(L"Package folder left alone, a system, program or profile folder, or one that holds one: C:\\"));
  EXPECT_FALSE(DeletePackageFolder(&log, folder_ + L"\\gone", rules));
  EXPECT_TRUE(log.Has(L"Package folder left alone, no existing folder: " + folder_ + L"\\gone"));
  size_t lines = log.lines.size();
  EXPECT_FALSE(DeletePackageFolder(&log, L"", rules));
  EXPECT_EQ(log.lines.size(), lines) << "an empty value names no folder";
}

// A link below the temporary folder that leads out of it (root\link ->
// outside, made by make_link_fixture.sh).
TEST(PackageFolderLinkTest, ALinkLeadingOutOfTheRootIsFollowedAndWhatItLeadsToIsKept) {
  const std::wstring fixture = STUB_LINK_FIXTURE;
  const std::wstring link = fixture + L"\\root\\link";
  DWORD attributes = ::GetFileAttributesW(link.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
    GTEST_SKIP() << "no link fixture: Wine shows the Unix symbolic link that CTest makes as a junction, and "
                    "CreateSymbolicLinkW does nothing under Wine";
  }
  EXPECT_EQ(Canonical(link), Canonical(fixture + L"\\outside"));
  RecordingLog log;
  FolderRules rules;
  rules.temporary = Canonical(fixture + L"\\root");
  EXPECT_FALSE(DeletePackageFolder(&log, link, rules));
  EXPECT_FALSE(DeletePackageFolder(&log, link + L"\\..\\link\\", rules));
  EXPECT_TRUE(Exists(fixture + L"\\outside\\canary.txt"));
  EXPECT_TRUE(log.Has(L"not below the temporary folder or a download folder: " + link));
  // A real folder beside the link goes.
  EXPECT_TRUE(DeletePackageFolder(&log, fixture + L"\\root\\real", rules));
  EXPECT_FALSE(Exists(fixture + L"\\root\\real"));
}

}  // namespace
}  // namespace stubframework::workflow
