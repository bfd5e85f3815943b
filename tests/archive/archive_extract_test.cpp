// Extracting archives from files: page trees, archives appended to signed and
// unsigned executables, damaged archives and names that try to escape.
#include <gtest/gtest.h>

#include <cstring>
#include <utility>
#include <vector>

#include "archive/zip_reader.h"
#include "archive/archive_test_support.h"

namespace stubframework::archive {
namespace {

using namespace testsupport::zip;
using Progress = std::vector<std::pair<unsigned, unsigned>>;

Progress FullProgress(unsigned count) {
  Progress steps;
  for (unsigned i = 0; i <= count; ++i) steps.emplace_back(i, count);
  return steps;
}

// Every file below folder, at any depth.
std::vector<std::wstring> ListFiles(const std::wstring& folder) {
  std::vector<std::wstring> files;
  WIN32_FIND_DATAW data;
  HANDLE find = ::FindFirstFileW((folder + L"*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return files;
  do {
    std::wstring name = data.cFileName;
    if (name == L"." || name == L"..") continue;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      for (const std::wstring& inner : ListFiles(folder + name + L"\\")) files.push_back(name + L"\\" + inner);
    } else {
      files.push_back(name);
    }
  } while (::FindNextFileW(find, &data));
  ::FindClose(find);
  return files;
}

void ExpectTreeUnder(const std::wstring& folder) {
  for (const std::wstring& name : TreeFiles()) {
    EXPECT_TRUE(Exists(folder + name)) << name;
    EXPECT_TRUE(ReadBytes(folder + name) == ReadBytes(Fixture(L"tree\\" + name))) << name;
  }
}

// The Authenticode certificate table: (file offset, size) from the PE header.
std::pair<uint32_t, uint32_t> CertificateTable(const std::string& image) {
  uint32_t pe = 0;
  std::memcpy(&pe, image.data() + 0x3C, 4);
  uint16_t magic = 0;
  std::memcpy(&magic, image.data() + pe + 24, 2);
  size_t directory = pe + 24 + (magic == 0x10B ? 96 : 112) + 4 * 8;
  uint32_t table[2] = {};
  std::memcpy(table, image.data() + directory, 8);
  return {table[0], table[1]};
}

TEST(ArchiveExtractTest, EveryEntryLandsUnderTheDestinationWithItsFolders) {
  ScratchFolder scratch;
  std::wstring destination = scratch.path() + L"not\\yet\\there\\";
  RecordingReporter reporter;
  ASSERT_TRUE(ExtractFile(Fixture(L"tree.zip"), destination, &reporter));
  ExpectTreeUnder(destination);
  EXPECT_TRUE(::GetFileAttributesW((destination + L"pages\\Welcome").c_str()) & FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_EQ(reporter.progress, FullProgress(6));
  EXPECT_TRUE(reporter.errors.empty());
}

TEST(ArchiveExtractTest, FolderEntriesBecomeFolders) {
  ScratchFolder scratch;
  RecordingReporter reporter;
  ASSERT_TRUE(ExtractFile(Fixture(L"with_folders.zip"), scratch.path(), &reporter));
  DWORD empty = ::GetFileAttributesW((scratch.path() + L"empty").c_str());
  ASSERT_NE(empty, INVALID_FILE_ATTRIBUTES);
  EXPECT_TRUE(empty & FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_EQ(ReadBytes(scratch.path() + L"docs\\readme.txt"), "read me\n");
  EXPECT_EQ(reporter.progress.back(), std::make_pair(3u, 3u));
}

TEST(ArchiveExtractTest, SignedExecutableWithTheArchiveBeforeItsCertificateTableYieldsEveryFile) {
  std::string image = ReadBytes(Fixture(L"signed_bundle.exe"));
  std::string zip = ReadBytes(Fixture(L"tree.zip"));
  ASSERT_FALSE(image.empty());
  auto [table_offset, table_size] = CertificateTable(image);
  size_t archive_end = image.rfind("PK\x05\x06") + 22;
  EXPECT_GE(table_offset, archive_end) << "the certificate table follows the archive";
  EXPECT_GE(table_size, 1024u) << "a real signature of some kilobytes";
  EXPECT_EQ(table_offset + table_size, image.size());

  ScratchFolder scratch;
  RecordingReporter reporter;
  ASSERT_TRUE(ExtractFile(Fixture(L"signed_bundle.exe"), scratch.path(), &reporter));
  ExpectTreeUnder(scratch.path());
  EXPECT_EQ(reporter.progress.back(), std::make_pair(6u, 6u));
}

TEST(ArchiveExtractTest, UnsignedExecutableWithTheArchiveAtItsEndYieldsEveryFile) {
  std::string image = ReadBytes(Fixture(L"unsigned_bundle.exe"));
  ASSERT_FALSE(image.empty());
  EXPECT_EQ(CertificateTable(image).second, 0u);
  // Packing pads to a multiple of 8 with zeros, as signing would.
  size_t archive_end = image.rfind("PK\x05\x06") + 22;
  ASSERT_LE(archive_end, image.size());
  EXPECT_LT(image.size() - archive_end, 8u);
  EXPECT_EQ(image.size() % 8, 0u);
  EXPECT_EQ(image.find_first_not_of('\0', archive_end), std::string::npos);
  ScratchFolder scratch;
  ASSERT_TRUE(ExtractFile(Fixture(L"unsigned_bundle.exe"), scratch.path(), nullptr));
  ExpectTreeUnder(scratch.path());
}

TEST(ArchiveExtractTest, DamagedDirectoryOrTruncatedFileFailsBeforeAnyEntry) {
  for (const wchar_t* name : {L"corrupt_directory.zip", L"truncated.zip", L"abc.txt"}) {
    ScratchFolder scratch;
    RecordingReporter reporter;
    EXPECT_FALSE(ExtractFile(Fixture(name), scratch.path(), &reporter)) << name;
    EXPECT_TRUE(reporter.progress.empty()) << name;
    EXPECT_FALSE(Exists(scratch.path() + L"Load.html")) << name;
  }
}

TEST(ArchiveExtractTest, DamagedEntryFailsTheExtractionAndProgressStillEnds) {
  // Each fixture damages entry 4, pages/Welcome/page.js.
  for (const wchar_t* name : {L"bad_crc.zip", L"short_deflate.zip"}) {
    ScratchFolder scratch;
    RecordingReporter reporter;
    EXPECT_FALSE(ExtractFile(Fixture(name), scratch.path(), &reporter)) << name;
    Progress expected = {{0, 6}, {1, 6}, {2, 6}, {3, 6}, {4, 6}, {6, 6}};
    EXPECT_EQ(reporter.progress, expected) << name;
    EXPECT_TRUE(Exists(scratch.path() + L"config\\empty.js")) << name;
    EXPECT_FALSE(Exists(scratch.path() + L"pages\\Welcome\\page.js")) << name << ": the failed file is removed";
    EXPECT_FALSE(Exists(scratch.path() + L"pages\\Welcome\\page.html")) << name << ": later entries not written";
  }
}

TEST(ArchiveExtractTest, EntriesWhoseBytesAreNotTheirOwnFailBeforeAnythingIsWritten) {
  // A local header away from where the directory says, data running into the
  // next entry or into the directory, fifty names for one MiB held once.
  for (const wchar_t* name : {L"wrong_local_offset.zip", L"overlap_next.zip", L"overlap_first.zip",
                              L"into_directory.zip", L"shared_data.zip"}) {
    ScratchFolder scratch;
    RecordingReporter reporter;
    EXPECT_FALSE(ExtractFile(Fixture(name), scratch.path(), &reporter)) << name;
    EXPECT_TRUE(reporter.progress.empty()) << name;
    EXPECT_TRUE(ListFiles(scratch.path()).empty()) << name;
  }
}

TEST(ArchiveExtractTest, DeclaredSizesBeyondTheFreeSpaceWriteNothingAndReportDiskFull) {
  // 300 entries of almost 4 GiB each.
  ScratchFolder scratch;
  RecordingReporter reporter;
  EXPECT_FALSE(ExtractFile(Fixture(L"huge_declared.zip"), scratch.path(), &reporter));
  EXPECT_EQ(reporter.errors, std::vector<int>{ERROR_DISK_FULL});
  EXPECT_EQ(reporter.progress, (Progress{{300, 300}}));
  EXPECT_TRUE(ListFiles(scratch.path()).empty());
}

TEST(ArchiveExtractTest, EntryNamesThatEscapeTheDestinationAreRefusedBeforeAnythingIsWritten) {
  for (const wchar_t* name : {L"escape_dotdot.zip", L"escape_nested_dotdot.zip", L"escape_drive.zip",
                              L"escape_backslash.zip", L"escape_slash.zip"}) {
    ScratchFolder outer;
    std::wstring destination = outer.path() + L"dest\\";
    RecordingReporter reporter;
    EXPECT_FALSE(ExtractFile(Fixture(name), destination, &reporter)) << name;
    EXPECT_EQ(reporter.progress, (Progress{{3, 3}})) << name;
    EXPECT_FALSE(Exists(destination + L"first.txt")) << name;
    EXPECT_FALSE(Exists(destination + L"last.txt")) << name;
    // Nothing beside the destination, nothing at the roots of the drives.
    WIN32_FIND_DATAW data;
    HANDLE find = ::FindFirstFileW((outer.path() + L"*").c_str(), &data);
    ASSERT_NE(find, INVALID_HANDLE_VALUE);
    do {
      std::wstring entry = data.cFileName;
      EXPECT_TRUE(entry == L"." || entry == L".." || entry == L"dest") << name << " left " << entry.c_str();
    } while (::FindNextFileW(find, &data));
    ::FindClose(find);
    for (const wchar_t* outside : {L"C:\\stub_escaped_drive.txt", L"C:\\stub_escaped_root.txt",
                                   L"C:\\stub_escaped_slash.txt", L"Z:\\stub_escaped_root.txt",
                                   L"Z:\\stub_escaped_slash.txt"}) {
      EXPECT_FALSE(Exists(outside)) << name << " wrote " << outside;
      ::DeleteFileW(outside);  // one escape must not fail every later run too
    }
  }
}

TEST(ArchiveExtractTest, NamesWindowsWouldMergeOrOpenAsADeviceRefuseThePackageWhole) {
  // "setup.exe " or "setup.exe." would overwrite "setup.exe" (and the later
  // one would run), as would a name differing only in case.
  for (const wchar_t* name : {L"merge_blank.zip", L"merge_dot.zip", L"merge_case.zip", L"merge_folder_dot.zip",
                              L"merge_file_folder.zip", L"merge_device.zip"}) {
    ScratchFolder outer;
    std::wstring destination = outer.path() + L"dest\\";
    RecordingReporter reporter;
    EXPECT_FALSE(ExtractFile(Fixture(name), destination, &reporter)) << name;
    EXPECT_EQ(reporter.progress, (Progress{{4, 4}})) << name;
    EXPECT_FALSE(Exists(destination)) << name << ": nothing extracted, not even the folder";
  }
}

TEST(ArchiveExtractTest, ReadFailureReportsTheSystemError) {
  ScratchFolder scratch;
  // A handle without read access: every read fails with ERROR_ACCESS_DENIED.
  base::UniqueHandle file(::CreateFileW(Fixture(L"tree.zip").c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ,
                                         nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(file);
  RecordingReporter reporter;
  EXPECT_FALSE(ExtractArchive(file.Get(), scratch.path(), &reporter));
  EXPECT_EQ(reporter.errors, std::vector<int>{ERROR_ACCESS_DENIED});
}

}  // namespace
}  // namespace stubframework::archive
