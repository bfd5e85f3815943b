// The file, folder and path methods as a page calls them through the bridge.
#include <gtest/gtest.h>
#include <windows.h>
#include <winioctl.h>

#include <string>

#include "base/temp_folder.h"
#include "externalmethods/file_methods.h"
#include "externalmethods/method_test_support.h"

namespace stubframework::externalmethods {

using namespace testsupport;
namespace {

using testsupport::ScriptArgs;

class FileMethodsTest : public MethodFixture {};

TEST_F(FileMethodsTest, CrcIsTheZipChecksumAsDecimalTextAndZeroWhenUnreadable) {
  const std::wstring abc = work_ + L"abc.bin";
  const std::wstring empty = work_ + L"empty.bin";
  const std::wstring high = work_ + L"high.bin";
  ASSERT_TRUE(WriteFileBytes(abc, "abc"));
  ASSERT_TRUE(WriteFileBytes(empty, ""));
  // CRC-32 of "123456789" is 0xCBF43926: above 2^31, so it must stay unsigned.
  ASSERT_TRUE(WriteFileBytes(high, "123456789"));
  const struct {
    std::wstring path;
    const wchar_t* crc;
  } cases[] = {
      {abc, L"891568578"},
      {empty, L"0"},
      {high, L"3421780262"},
      {work_ + L"missing.bin", L"0"},
      {work_, L"0"},  // a folder
      {L"\\\\.\\PhysicalDrive0", L"0"},
      {L"", L"0"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Text(L"getCrc", std::move(ScriptArgs().Text(c.path.c_str()))), c.crc) << base::ToAnsi(c.path);
  }
  EXPECT_TRUE(LogHasLine("EMGetCRC args " + base::ToAnsi(abc) + ", Result 891568578"));
}

TEST_F(FileMethodsTest, FileReadersGiveZeroWhileAnotherHandleHoldsTheFile) {
  const std::wstring path = work_ + L"busy.bin";
  ASSERT_TRUE(WriteFileBytes(path, "abc"));
  HANDLE writer = ::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(writer, INVALID_HANDLE_VALUE);
  EXPECT_EQ(Text(L"getCrc", std::move(ScriptArgs().Text(path.c_str()))), L"0");
  EXPECT_EQ(Text(L"getFileSize", std::move(ScriptArgs().Text(path.c_str()))), L"0");
  ::CloseHandle(writer);
  EXPECT_EQ(Text(L"getFileSize", std::move(ScriptArgs().Text(path.c_str()))), L"3");
}

TEST_F(FileMethodsTest, FileSizeOfAFiveGibibyteFileIsExact) {
  const std::wstring path = work_ + L"sparse.bin";
  HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  DWORD ignored = 0;
  // Sparse where the file system allows it: only the end is written.
  ::DeviceIoControl(file, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &ignored, nullptr);
  LARGE_INTEGER end;
  end.QuadPart = 5LL << 30;
  ASSERT_TRUE(::SetFilePointerEx(file, end, nullptr, FILE_BEGIN));
  ASSERT_TRUE(::SetEndOfFile(file));
  ::CloseHandle(file);
  EXPECT_EQ(Text(L"getFileSize", std::move(ScriptArgs().Text(path.c_str()))), L"5368709120");
  EXPECT_TRUE(LogHasLine("EMGetFileSize 5368709120"));
  EXPECT_EQ(Text(L"getFileSize", std::move(ScriptArgs().Text((work_ + L"none").c_str()))), L"0");
  ::DeleteFileW(path.c_str());
}

TEST_F(FileMethodsTest, DestinationIsReadOnlyOnlyWhenNoFolderCanBeMadeInIt) {
  EXPECT_TRUE(Bool(L"isDestReadOnly", std::move(ScriptArgs().Text((work_ + L"missing").c_str()))));
  EXPECT_TRUE(LogHasLine("args: " + base::ToAnsi(work_) + "missing, Result: readonly"));

  const std::wstring folder = work_ + L"dest";
  ASSERT_TRUE(::CreateDirectoryW(folder.c_str(), nullptr));
  EXPECT_FALSE(Bool(L"isDestReadOnly", std::move(ScriptArgs().Text(folder.c_str()))));
  EXPECT_TRUE(LogHasLine("args: " + base::ToAnsi(folder) + ", Result: not readonly"));
  EXPECT_FALSE(Exists(folder + L"\\STUB1719")) << "the probe folder is removed";

  // A probe folder left from before counts as writable and goes too.
  ASSERT_TRUE(::CreateDirectoryW((folder + L"\\STUB1719").c_str(), nullptr));
  EXPECT_FALSE(Bool(L"isDestReadOnly", std::move(ScriptArgs().Text(folder.c_str()))));
  EXPECT_FALSE(Exists(folder + L"\\STUB1719"));
}

TEST_F(FileMethodsTest, CreateDirectoryMakesEveryLevelButCallsAnExistingFolderAFailure) {
  const std::wstring nested = work_ + L"a\\b\\c";
  EXPECT_TRUE(Bool(L"createDirectory", std::move(ScriptArgs().Text(nested.c_str()))));
  EXPECT_TRUE(Exists(nested));
  EXPECT_FALSE(Bool(L"createDirectory", std::move(ScriptArgs().Text(nested.c_str()))));
  EXPECT_TRUE(Bool(L"isFileExists", std::move(ScriptArgs().Text(nested.c_str()))));
  EXPECT_FALSE(Bool(L"isFileExists", std::move(ScriptArgs().Text((nested + L"\\d").c_str()))));
  EXPECT_TRUE(LogHasLine("args: " + base::ToAnsi(nested) + "\\d, Result: not exist"));
}

TEST_F(FileMethodsTest, FreeSpaceIsZeroForAPathOnNoVolume) {
  const std::wstring free_text = Text(L"getDiskAvailableSpace", std::move(ScriptArgs().Text(work_.c_str())));
  EXPECT_NE(free_text, L"0");
  EXPECT_EQ(free_text.find_first_not_of(L"0123456789"), std::wstring::npos) << base::ToAnsi(free_text);
  EXPECT_EQ(Text(L"getDiskAvailableSpace", std::move(ScriptArgs().Text(L"Q:\\no\\such\\volume"))), L"0");
  EXPECT_TRUE(LogHasLine("EMGetDiskAvailableSpace args: Q:\\no\\such\\volume, Result"));
}

// A package built by wixl at build time and this suite's probe program.
TEST_F(FileMethodsTest, VersionComesFromThePackageOrTheExecutableByTheExtension) {
  const std::wstring msi = testsupport::WindowsPathOf(VERSIONED_MSI);
  const std::wstring exe = testsupport::WindowsPathOf(PROBE_APP_EXE);
  const std::wstring text = work_ + L"plain.txt";
  ASSERT_TRUE(WriteFileBytes(text, "no resources here"));
  const struct {
    const wchar_t* extension;
    std::wstring file;
    const wchar_t* version;
  } cases[] = {
      {L".msi", msi, L"22.4.1234"},   {L".MSI", msi, L"22.4.1234"},     {L".Msi", msi, L"22.4.1234"},
      {L"msi", msi, L""},             {L".msi", exe, L""},              {L".msi", work_ + L"none.msi", L""},
      {L".EXE", exe, L"3.14.159.2653"}, {L".exe", exe, L"3.14.159.2653"}, {L"exe", exe, L""},
      {L".exe", text, L""},           {L".exe", msi, L""},              {L".dll", exe, L""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(base::ToAnsi(std::wstring(c.extension) + L" " + c.file));
    EXPECT_EQ(Text(L"getFileVersion", std::move(ScriptArgs().Text(c.extension).Text(c.file.c_str()))), c.version);
  }
  EXPECT_TRUE(LogHasLine("EMGetMSIFileVersion args " + base::ToAnsi(msi) + ", Result 22.4.1234"));
}

TEST_F(FileMethodsTest, TempPathIsTheUserTempFolderWithTheNameAndExistsAfterwards) {
  // The fixture points TMP at its own folder.
  const std::wstring temp = base::TemporaryPath();
  ASSERT_FALSE(temp.empty());
  const std::wstring product = Text(L"getTempPath", std::move(ScriptArgs().Text(L"")));
  EXPECT_EQ(product, temp + L"Tessary\\");
  EXPECT_TRUE(Exists(product));
  EXPECT_TRUE(LogHasLine("EMGetTempPath " + base::ToAnsi(product)));
  // Asked again, the folder is already there: the same answer.
  EXPECT_EQ(Text(L"getTempPath", std::move(ScriptArgs().Text(L""))), product);
  const std::wstring named = Text(L"getTempPath", std::move(ScriptArgs().Text(L"Other")));
  EXPECT_EQ(named, temp + L"Other\\");
  EXPECT_TRUE(Exists(named));
}

TEST_F(FileMethodsTest, CurrentPathIsTheStartedStubsFolderElseThisProgramsFolder) {
  host_->stub = L"C:\\Users\\me\\Downloads\\TessarySetup.exe";
  EXPECT_EQ(Text(L"getCurrentPath", ScriptArgs(), DISPATCH_METHOD), L"C:\\Users\\me\\Downloads");
  EXPECT_TRUE(LogHasLine("EMGetCurrentPath C:\\Users\\me\\Downloads"));

  wchar_t module[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, module, MAX_PATH);
  std::wstring own(module);
  own.erase(own.rfind(L'\\'));
  host_->stub = L"TessarySetup.exe";  // no folder in it
  EXPECT_EQ(Text(L"getCurrentPath", ScriptArgs(), DISPATCH_METHOD), own);
  host_->stub = L"";
  EXPECT_EQ(Text(L"getCurrentPath", ScriptArgs(), DISPATCH_METHOD), own);
}

TEST(DevicePathTest, OnlyOrdinaryAndLongPathsAreFiles) {
  const struct {
    const wchar_t* path;
    bool device;
  } cases[] = {
      {L"C:\\data\\file.bin", false},     {L"\\\\server\\share\\f", false},   {L"\\\\?\\C:\\long\\f", false},
      {L"\\\\?\\UNC\\server\\s\\f", false}, {L"relative\\f", false},          {L"\\\\.\\PhysicalDrive0", true},
      {L"\\\\.\\pipe\\name", true},         {L"//./pipe/name", true},         {L"\\\\?\\GLOBALROOT\\Device\\X", true},
      {L"\\\\?\\Volume{0}", true},          {L"\\\\?\\C:", true},
  };
  for (const auto& c : cases) EXPECT_EQ(externalmethods::IsDevicePath(c.path), c.device) << base::ToAnsi(c.path);
}

}  // namespace
}  // namespace stubframework::externalmethods
