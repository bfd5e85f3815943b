// The folders the elevated stub works in: the access list read back from a
// created folder, fresh random names, and the refusal of links and of folders
// that someone else owns. Where the platform keeps no descriptors for files
// (Wine on this file system), the list and owner checks skip and say so; only
// Windows can show that a standard user is actually kept out.
#include <gtest/gtest.h>
#include <windows.h>
#include <aclapi.h>

#include <set>
#include <string>

#include "base/secured_folder.h"
#include "base/temp_folder.h"
#include "support/security_probe.h"

namespace stubframework::base {
namespace {

constexpr DWORD kWriteBits = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA | FILE_WRITE_ATTRIBUTES |
                             FILE_DELETE_CHILD | DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;

bool Exists(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

struct Sid {
  BYTE bytes[SECURITY_MAX_SID_SIZE] = {};
  explicit Sid(WELL_KNOWN_SID_TYPE type) {
    DWORD size = sizeof(bytes);
    ::CreateWellKnownSid(type, nullptr, bytes, &size);
  }
  PSID Get() { return bytes; }
};

// The access list and owner as stored, read back by name.
struct StoredSecurity {
  PSID owner = nullptr;
  PACL dacl = nullptr;
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  explicit StoredSecurity(const std::wstring& path) {
    if (::GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                &owner, nullptr, &dacl, nullptr, &descriptor) != ERROR_SUCCESS) {
      descriptor = nullptr;
      return;
    }
    DWORD revision = 0;
    ::GetSecurityDescriptorControl(descriptor, &control, &revision);
  }
  ~StoredSecurity() {
    if (descriptor != nullptr) ::LocalFree(descriptor);
  }
  // The access mask allowed to `sid` by the list; 0 when it has no entry.
  DWORD AllowedTo(PSID sid) const {
    DWORD mask = 0;
    for (DWORD i = 0; dacl != nullptr && i < dacl->AceCount; ++i) {
      ACCESS_ALLOWED_ACE* ace = nullptr;
      if (!::GetAce(dacl, i, reinterpret_cast<void**>(&ace))) continue;
      if (ace->Header.AceType == ACCESS_ALLOWED_ACE_TYPE && ::EqualSid(&ace->SidStart, sid)) mask |= ace->Mask;
    }
    return mask;
  }
};

class SecuredFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    parent_ = TemporaryPath() + L"secured_folder_test\\";
    DeleteFolderRecursive(parent_);
    ASSERT_TRUE(::CreateDirectoryW(parent_.c_str(), nullptr));
  }
  void TearDown() override { DeleteFolderRecursive(parent_); }
  std::wstring parent_;
};

TEST(RunFolderNameTest, OnlyThePrefixAndThirtyTwoLowercaseHexDigitsNameARunFolder) {
  const std::wstring digits(32, L'a');
  const struct {
    std::wstring name;
    bool run_folder;
  } cases[] = {
      {std::wstring(kRunFolderPrefix) + L"0123456789abcdef0123456789abcdef", true},
      {std::wstring(kRunFolderPrefix) + digits, true},
      {std::wstring(kRunFolderPrefix) + std::wstring(31, L'a'), false},  // one digit short
      {std::wstring(kRunFolderPrefix) + std::wstring(33, L'a'), false},  // one too many
      {std::wstring(kRunFolderPrefix) + std::wstring(31, L'a') + L"g", false},
      {std::wstring(kRunFolderPrefix) + std::wstring(31, L'a') + L"A", false},  // not our spelling
      {std::wstring(kRunFolderPrefix) + std::wstring(31, L'a') + L".", false},
      {L"SFRUN-" + digits, false},
      {L"x" + std::wstring(kRunFolderPrefix) + std::wstring(31, L'a'), false},
      {L"5f3a2c", false},  // a folder named by the tick count, as older runs made them
      {L"", false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(IsRunFolderName(c.name), c.run_folder) << std::string(c.name.begin(), c.name.end());
}

TEST(RandomHexTest, NamesAreFreshAndOfTheAskedLength) {
  std::set<std::wstring> seen;
  for (int i = 0; i < 64; ++i) {
    std::wstring text = RandomHex(kRunFolderRandomBytes);
    ASSERT_EQ(text.size(), 2 * kRunFolderRandomBytes);
    EXPECT_TRUE(IsRunFolderName(kRunFolderPrefix + text));
    seen.insert(text);
  }
  EXPECT_EQ(seen.size(), 64u) << "two draws of 128 bits gave the same name";
  EXPECT_TRUE(RandomHex(0).empty());
}

TEST_F(SecuredFolderTest, ARunFolderHasAProtectedListWhereOnlySystemAndAdministratorsWrite) {
  RunFolder folder;
  ASSERT_TRUE(folder.Create(parent_));
  ASSERT_EQ(folder.path().compare(0, parent_.size(), parent_), 0);
  EXPECT_EQ(folder.path().back(), L'\\');
  std::wstring name = folder.path().substr(parent_.size());
  name.pop_back();
  EXPECT_TRUE(IsRunFolderName(name)) << std::string(name.begin(), name.end());

  EXPECT_TRUE(folder.Verify());
  if (!testsupport::PlatformKeepsFileSecurity(parent_)) {
    folder.Remove();
    GTEST_SKIP() << testsupport::kNoStoredSecurity;
  }
  StoredSecurity stored(folder.path());
  ASSERT_NE(stored.dacl, nullptr) << "no access list stored (a null list would let everyone in)";
  EXPECT_TRUE(stored.control & SE_DACL_PROTECTED) << "the list must not take entries from the temporary folder";
  Sid system(WinLocalSystemSid);
  Sid admins(WinBuiltinAdministratorsSid);
  EXPECT_EQ(stored.AllowedTo(system.Get()) & FILE_ALL_ACCESS, static_cast<DWORD>(FILE_ALL_ACCESS));
  EXPECT_EQ(stored.AllowedTo(admins.Get()) & FILE_ALL_ACCESS, static_cast<DWORD>(FILE_ALL_ACCESS));
  for (DWORD i = 0; i < stored.dacl->AceCount; ++i) {
    ACCESS_ALLOWED_ACE* ace = nullptr;
    ASSERT_TRUE(::GetAce(stored.dacl, i, reinterpret_cast<void**>(&ace)));
    EXPECT_EQ(ace->Header.AceFlags & INHERITED_ACE, 0) << "entry " << i << " was inherited";
    EXPECT_EQ(ace->Header.AceFlags & (OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE),
              OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE)
        << "entry " << i << " must reach what the folder holds";
    if (ace->Header.AceType != ACCESS_ALLOWED_ACE_TYPE) continue;
    PSID sid = &ace->SidStart;
    if (::EqualSid(sid, system.Get()) || ::EqualSid(sid, admins.Get())) continue;
    if (IsElevated()) EXPECT_EQ(ace->Mask & kWriteBits, 0u) << "entry " << i << " lets another account write";
  }
  if (IsElevated()) {
    ASSERT_NE(stored.owner, nullptr);
    EXPECT_TRUE(::EqualSid(stored.owner, admins.Get())) << "an elevated run's folder belongs to Administrators";
  }
  // A file made inside takes the same list.
  const std::wstring inner = folder.path() + L"inner.txt";
  HANDLE file = ::CreateFileW(inner.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  ::CloseHandle(file);
  StoredSecurity inner_stored(inner);
  EXPECT_EQ(inner_stored.AllowedTo(admins.Get()) & FILE_ALL_ACCESS, static_cast<DWORD>(FILE_ALL_ACCESS));

  EXPECT_TRUE(folder.Verify());
  const std::wstring path = folder.path();
  EXPECT_TRUE(folder.Remove());
  EXPECT_FALSE(Exists(path));
}

TEST_F(SecuredFolderTest, AHeldRunFolderCannotBeRenamedAwayAndTwoRunsNeverShareOne) {
  RunFolder first;
  RunFolder second;
  ASSERT_TRUE(first.Create(parent_));
  ASSERT_TRUE(second.Create(parent_));
  EXPECT_NE(first.path(), second.path());
  EXPECT_FALSE(first.Create(parent_)) << "one object holds one folder";
  std::wstring from = first.path();
  from.pop_back();
  EXPECT_FALSE(::MoveFileW(from.c_str(), (parent_ + L"moved").c_str()))
      << "renaming the held folder must fail: a replacement could otherwise take its place";
  EXPECT_TRUE(first.Verify());
  first.Remove();
  second.Remove();
}

TEST_F(SecuredFolderTest, AFolderOwnedBySomeoneElseIsRefusedAndAMissingOneIsMadeProtected) {
  // Made by us: every missing level gets the protected list.
  const std::wstring made = parent_ + L"Publisher\\Product";
  ASSERT_EQ(EnsureProtectedFolder(parent_, made), FolderCheck::kOk);
  EXPECT_EQ(EnsureProtectedFolder(parent_, made), FolderCheck::kOk) << "our own folder passes again";
  const bool kept = testsupport::PlatformKeepsFileSecurity(parent_);
  EXPECT_EQ(OwnersAreKept(parent_), kept || !IsElevated());
  for (const std::wstring& level : {parent_ + L"Publisher", made}) {
    StoredSecurity stored(level);
    if (kept) EXPECT_TRUE(stored.control & SE_DACL_PROTECTED);
  }

  // A file where a folder belongs, and paths outside the root.
  const std::wstring file = parent_ + L"AFile";
  HANDLE handle = ::CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
  ASSERT_NE(handle, INVALID_HANDLE_VALUE);
  ::CloseHandle(handle);
  EXPECT_EQ(EnsureProtectedFolder(parent_, file + L"\\x"), FolderCheck::kFailed);
  EXPECT_EQ(EnsureProtectedFolder(parent_, parent_), FolderCheck::kFailed);
  EXPECT_EQ(EnsureProtectedFolder(parent_ + L"Publisher", parent_ + L"PublisherX\\y"), FolderCheck::kFailed);
  EXPECT_FALSE(Exists(parent_ + L"PublisherX"));
  EXPECT_EQ(EnsureProtectedFolder(parent_, parent_ + L"a\\\\b"), FolderCheck::kFailed);
  if (!kept) GTEST_SKIP() << "no refusal by owner: " << testsupport::kNoStoredSecurity;

  // Pre-created by another account: refused, and nothing is made below it.
  const std::wstring planted = parent_ + L"Planted";
  ASSERT_TRUE(::CreateDirectoryW(planted.c_str(), nullptr));
  Sid users(WinBuiltinUsersSid);
  ASSERT_EQ(::SetNamedSecurityInfoW(const_cast<wchar_t*>(planted.c_str()), SE_FILE_OBJECT,
                                    OWNER_SECURITY_INFORMATION, users.Get(), nullptr, nullptr, nullptr),
            static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_EQ(EnsureProtectedFolder(parent_, planted + L"\\Product"), FolderCheck::kUntrustedOwner);
  EXPECT_FALSE(Exists(planted + L"\\Product"));
}

TEST_F(SecuredFolderTest, AFileIsWrittenAfreshButNeverThroughASecondName) {
  const std::wstring path = parent_ + L"data";
  {
    UniqueHandle file(CreateFileNoFollow(path, GENERIC_WRITE, 0));
    ASSERT_TRUE(file);
    DWORD written = 0;
    ASSERT_TRUE(::WriteFile(file.Get(), "old content", 11, &written, nullptr));
  }
  {
    UniqueHandle file(CreateFileNoFollow(path, GENERIC_WRITE, 0));
    ASSERT_TRUE(file);
    LARGE_INTEGER size = {};
    ASSERT_TRUE(::GetFileSizeEx(file.Get(), &size));
    EXPECT_EQ(size.QuadPart, 0) << "truncated as CREATE_ALWAYS would";
  }
  // A hard link to someone else's file is a second name for it: refused.
  const std::wstring victim = parent_ + L"victim";
  {
    UniqueHandle file(::CreateFileW(victim.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
    DWORD written = 0;
    ASSERT_TRUE(::WriteFile(file.Get(), "keep", 4, &written, nullptr));
  }
  const std::wstring second = parent_ + L"second";
  if (!::CreateHardLinkW(second.c_str(), victim.c_str(), nullptr)) GTEST_SKIP() << "no hard links here";
  EXPECT_FALSE(UniqueHandle(CreateFileNoFollow(second, GENERIC_WRITE, 0)));
  WIN32_FILE_ATTRIBUTE_DATA data = {};
  ASSERT_TRUE(::GetFileAttributesExW(victim.c_str(), GetFileExInfoStandard, &data));
  EXPECT_EQ(data.nFileSizeLow, 4u) << "the other name's content survives";
  EXPECT_FALSE(UniqueHandle(CreateFileNoFollow(parent_, GENERIC_WRITE, 0))) << "a folder is no file";
}

// Links made by make_link_fixture.sh: root\link leads to outside, and
// root\file_link to outside\canary.txt.
class SecuredFolderLinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fixture_ = STUB_LINK_FIXTURE;
    const DWORD attributes = ::GetFileAttributesW((fixture_ + L"\\root\\link").c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
      GTEST_SKIP() << "no link fixture: Wine shows the Unix symbolic link that CTest makes as a junction, and "
                      "CreateSymbolicLinkW does nothing under Wine";
    }
  }
  std::wstring fixture_;
};

TEST_F(SecuredFolderLinkTest, NoFolderIsMadeOrUsedThroughALinkAtAnyLevel) {
  const std::wstring root = fixture_ + L"\\root";
  EXPECT_TRUE(PathHasReparsePoint(root + L"\\link"));
  EXPECT_TRUE(PathHasReparsePoint(root + L"\\link\\deeper\\"));
  EXPECT_FALSE(PathHasReparsePoint(root + L"\\real"));

  RunFolder run;
  EXPECT_FALSE(run.Create(root + L"\\link\\"));
  EXPECT_EQ(EnsureProtectedFolder(root, root + L"\\link\\made"), FolderCheck::kReparsePoint);
  EXPECT_EQ(EnsureProtectedFolder(root + L"\\link", root + L"\\link\\made"), FolderCheck::kReparsePoint);
  // Nothing appeared where the link leads.
  WIN32_FIND_DATAW data;
  HANDLE find = ::FindFirstFileW((fixture_ + L"\\outside\\*").c_str(), &data);
  ASSERT_NE(find, INVALID_HANDLE_VALUE);
  std::set<std::wstring> names;
  do names.insert(data.cFileName);
  while (::FindNextFileW(find, &data));
  ::FindClose(find);
  EXPECT_EQ(names, (std::set<std::wstring>{L".", L"..", L"canary.txt"}));
}

TEST_F(SecuredFolderLinkTest, AFileLinkIsNotWrittenThrough) {
  const std::wstring link = fixture_ + L"\\root\\file_link";
  EXPECT_FALSE(UniqueHandle(CreateFileNoFollow(link, GENERIC_WRITE, 0)));
  WIN32_FILE_ATTRIBUTE_DATA data = {};
  ASSERT_TRUE(::GetFileAttributesExW((fixture_ + L"\\outside\\canary.txt").c_str(), GetFileExInfoStandard, &data));
  EXPECT_EQ(data.nFileSizeLow, 8u) << "the file the link names keeps its content";
}

}  // namespace
}  // namespace stubframework::base
