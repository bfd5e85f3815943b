// Hostile sizes from a server, a package, a page and the registry: each ends
// with a clear failure code (or is kept whole where keeping is the method's
// job), leaves nothing half-written, and raises the process's peak memory by
// a bounded amount, which each test prints.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include <zlib.h>

#include "archive/package_extract.h"
#include "archive/zip_format.h"
#include "base/registry.h"
#include "base/temp_folder.h"
#include "campaign/campaign.h"
#include "downloader/download_test_util.h"
#include "externalmethods/product/my_external_methods.h"
#include "htmlui/bridge_test_support.h"
#include "htmlui/html_external.h"
#include "support/test_servers.h"
#include "utils/download_file_verified.h"
#include "utils/utils_test_util.h"
#include "workflow/error_handle.h"

namespace campaign = testsupport::campaign;

namespace {

namespace format = stubframework::archive::format;
using stubframework::archive::ExtractPackage;
using testsupport::AppFixture;
using testsupport::RecordingFunction;
using testsupport::ScriptArgs;

constexpr size_t kMiB = 1048576;

size_t PeakPrivate() {
  size_t working_set = 0;
  size_t private_bytes = 0;
  campaign::PeakMemory(&working_set, &private_bytes);
  return private_bytes;
}

// Prints what a case raised the peak to, and checks the rise.
class PeakScope {
 public:
  PeakScope(const char* what, size_t limit) : what_(what), limit_(limit), before_(PeakPrivate()) {}
  ~PeakScope() {
    const size_t after = PeakPrivate();
    printf("bounded: %-44s peak private bytes %zu KiB (before %zu KiB, limit +%zu MiB)\n", what_, after / 1024,
           before_ / 1024, limit_ / kMiB);
    EXPECT_LE(after - before_, limit_) << what_;
  }

 private:
  const char* what_;
  size_t limit_;
  size_t before_;
};

bool Exists(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool FolderHasFiles(const std::wstring& folder) {
  WIN32_FIND_DATAW data;
  HANDLE find = ::FindFirstFileW((folder + L"\\*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return false;
  bool any = false;
  do {
    std::wstring name = data.cFileName;
    if (name == L"." || name == L"..") continue;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      any = FolderHasFiles(folder + L"\\" + name);
    } else {
      any = true;
    }
  } while (!any && ::FindNextFileW(find, &data));
  ::FindClose(find);
  return any;
}

void Put16(std::string& bytes, size_t at, uint16_t v) { format::WriteLe16(reinterpret_cast<uint8_t*>(&bytes[at]), v); }
void Put32(std::string& bytes, size_t at, uint32_t v) { format::WriteLe32(reinterpret_cast<uint8_t*>(&bytes[at]), v); }

struct RawEntry {
  std::string name;
  std::string data;  // stored as it is
  uint32_t declared_size;
  uint16_t method;
  uint32_t crc;
};

// A ZIP archive written field by field, so that it may declare what no
// archiver would write.
std::string BuildZip(const std::vector<RawEntry>& entries) {
  std::string out;
  std::string directory;
  for (const RawEntry& e : entries) {
    const size_t local = out.size();
    std::string header(format::kLocalHeaderSize, '\0');
    Put32(header, 0, format::kLocalHeaderSignature);
    Put16(header, 4, format::kVersionNeeded);
    Put16(header, 8, e.method);
    Put32(header, 14, e.crc);
    Put32(header, 18, static_cast<uint32_t>(e.data.size()));
    Put32(header, 22, e.declared_size);
    Put16(header, format::kLocalNameLength, static_cast<uint16_t>(e.name.size()));
    out += header + e.name + e.data;
    std::string central(format::kCentralHeaderSize, '\0');
    Put32(central, 0, format::kCentralHeaderSignature);
    Put16(central, 6, format::kVersionNeeded);
    Put16(central, format::kCentralMethod, e.method);
    Put32(central, format::kCentralCrc, e.crc);
    Put32(central, format::kCentralCompressedSize, static_cast<uint32_t>(e.data.size()));
    Put32(central, format::kCentralSize, e.declared_size);
    Put16(central, format::kCentralNameLength, static_cast<uint16_t>(e.name.size()));
    Put32(central, format::kCentralLocalHeaderOffset, static_cast<uint32_t>(local));
    directory += central + e.name;
  }
  std::string end(format::kEndRecordSize, '\0');
  Put32(end, 0, format::kEndRecordSignature);
  Put16(end, format::kEndEntriesOnDisk, static_cast<uint16_t>(entries.size()));
  Put16(end, format::kEndTotalEntries, static_cast<uint16_t>(entries.size()));
  Put32(end, format::kEndDirectorySize, static_cast<uint32_t>(directory.size()));
  Put32(end, format::kEndDirectoryOffset, static_cast<uint32_t>(out.size()));
  return out + directory + end;
}

// One stored entry's bytes listed under count names, every directory record
// pointing at the same local header: count times the data from one copy.
std::string BuildSharedZip(size_t count, const std::string& data, uint32_t crc) {
  std::string zip = BuildZip({{"copy0", data, static_cast<uint32_t>(data.size()), format::kMethodStored, crc}});
  const size_t end_at = zip.size() - format::kEndRecordSize;
  const size_t directory_at = format::ReadLe32(reinterpret_cast<const uint8_t*>(&zip[end_at]) +
                                               format::kEndDirectoryOffset);
  const std::string first = zip.substr(directory_at, end_at - directory_at);
  std::string directory;
  for (size_t i = 0; i < count; ++i) {
    std::string record = first.substr(0, format::kCentralHeaderSize);
    const std::string name = "copy" + std::to_string(i);
    Put16(record, format::kCentralNameLength, static_cast<uint16_t>(name.size()));
    directory += record + name;
  }
  std::string end = zip.substr(end_at);
  Put16(end, format::kEndEntriesOnDisk, static_cast<uint16_t>(count));
  Put16(end, format::kEndTotalEntries, static_cast<uint16_t>(count));
  Put32(end, format::kEndDirectorySize, static_cast<uint32_t>(directory.size()));
  return zip.substr(0, directory_at) + directory + end;
}

class BoundedResourcesTest : public AppFixture {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(::CoInitialize(nullptr)));
    AppFixture::SetUp();
    if (HasFatalFailure()) return;
    std::string error;
    servers_ = testsupport::TestServers::Get(&error);
    ASSERT_NE(servers_, nullptr) << error;
    methods_ = std::make_unique<stubframework::externalmethods::MyExternalMethods>(app_.get());
    ASSERT_TRUE(app_->external()->AttachMethods(methods_.get()));
    work_ = stubframework::base::MakeUniqueFolder(stubframework::base::WithTrailingBackslash(temp_));
    ASSERT_FALSE(work_.empty());
  }
  void TearDown() override {
    AppFixture::TearDown();
    methods_.reset();
    ::CoUninitialize();
  }

  HRESULT Call(const wchar_t* name, WORD flags, ScriptArgs& args, VARIANT* result = nullptr) {
    DISPID id = DISPID_UNKNOWN;
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    EXPECT_EQ(app_->external_dispatch()->GetIDsOfNames(IID_NULL, names, 1, 0, &id), S_OK);
    return app_->external_dispatch()->Invoke(id, IID_NULL, 0, flags, args.params(), result, nullptr, nullptr);
  }

  // The page's download(): the final code its function hears.
  LONG PageDownload(const std::wstring& url, const std::wstring& file) {
    RecordingFunction function;
    {
      ScriptArgs args;
      args.Text(url.c_str()).Text(file.c_str()).Text(L"").Bool(false).Bool(false).Dispatch(&function);
      EXPECT_EQ(Call(L"download", DISPATCH_METHOD, args), S_OK);
    }
    const DWORD deadline = ::GetTickCount() + 120000;
    while (function.calls.empty() || function.calls.back().args.size() != 3 ||
           function.calls.back().args[0] == stubframework::workflow::kRunning || function.refs() != 1) {
      if (::GetTickCount() > deadline) {
        ADD_FAILURE() << "the worker did not finish";
        return -1;
      }
      ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
      MSG msg;
      while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&msg);
    }
    ::Sleep(20);
    return function.calls.back().args[0];
  }

  const testsupport::TestServers* servers_ = nullptr;
  std::unique_ptr<stubframework::externalmethods::MyExternalMethods> methods_;
  std::wstring work_;
};

// A meta whose head announces a file the volume cannot hold is refused before
// the meta's body is allocated: disk full when its length matches the head,
// a failure when it does not (a damaged head); no destination file.
TEST_F(BoundedResourcesTest, MetaAnnouncingAHugeSizeIsRefusedBeforeItsBodyIsAllocated) {
  const HRESULT kDiskFull = static_cast<HRESULT>(0x80070070);
  const HRESULT kFailed = static_cast<HRESULT>(0x800C0008);
  struct Case {
    const char* what;
    long long size;
    const char* length;  // empty: the length such a meta has
    HRESULT expected;
  } cases[] = {
      {"meta of 2^26 - 1 blocks (1.3 GB of digests)", (1LL << 46) - (1LL << 20), "", kDiskFull},
      {"meta of a 1 TiB file (20 MB of digests)", 1LL << 40, "", kDiskFull},
      {"1 TiB head on a 48-byte meta", 1LL << 40, "48", kFailed},
  };
  for (const Case& c : cases) {
    PeakScope peak(c.what, 32 * kMiB);
    const std::string key = testsupport::UniqueKey();
    std::string path = "/hugemeta/" + key + "?size=" + std::to_string(c.size) + "&body=4096";
    if (*c.length != '\0') path += std::string("&length=") + c.length;
    const std::wstring url = servers_->FaultUrl(path);
    const std::wstring dest = work_ + L"huge.bin";
    testsupport::TestHost host;
    const HRESULT hr = stubframework::utils::DownloadFileVerified(host.host(), url, url, dest);
    EXPECT_EQ(hr, c.expected) << c.what;
    EXPECT_FALSE(Exists(dest)) << c.what << ": a destination was created";
  }
}

// 65,535 entries, the most an archive without the 64-bit extension lists,
// the last one damaged: the package fails before a single file is written.
TEST_F(BoundedResourcesTest, ArchiveOf65535EntriesWithOneDamagedWritesNothing) {
  std::vector<RawEntry> entries;
  for (int i = 0; i < 65535; ++i) entries.push_back({"d/" + std::to_string(i), "", 0, format::kMethodStored, 0});
  std::string zip = BuildZip(entries);
  // The last local header's signature.
  size_t at = zip.rfind(std::string("PK\x03\x04", 4));
  ASSERT_NE(at, std::string::npos);
  zip[at] = 'X';
  const std::wstring package = work_ + L"many.zip";
  ASSERT_TRUE(testsupport::WriteWholeFile(package, zip));
  PeakScope peak("archive of 65,535 entries", 32 * kMiB);
  std::wstring unzip;
  std::wstring setup;
  EXPECT_EQ(ExtractPackage(nullptr, nullptr, package, &unzip, &setup), stubframework::archive::kPackageFailed);
  EXPECT_TRUE(unzip.empty() || !FolderHasFiles(unzip)) << "files were written";
}

// 65,535 names for one MiB stored once (64 GiB if each were written): the
// entries overlap, so the package fails before a single file is written.
TEST_F(BoundedResourcesTest, OverlappingEntriesOf65535NamesWriteNothing) {
  const std::string data(kMiB, '\0');
  const uint32_t crc = static_cast<uint32_t>(::crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
  const std::string zip = BuildSharedZip(65535, data, crc);
  const std::wstring package = work_ + L"shared.zip";
  ASSERT_TRUE(testsupport::WriteWholeFile(package, zip));
  PeakScope peak("65,535 overlapping entries", 32 * kMiB);
  std::wstring unzip;
  std::wstring setup;
  EXPECT_EQ(ExtractPackage(nullptr, nullptr, package, &unzip, &setup), stubframework::archive::kPackageFailed);
  EXPECT_TRUE(unzip.empty() || !FolderHasFiles(unzip)) << "files were written";
}

// An entry that declares 4 GiB but holds a few bytes: refused as disk full
// where the volume is smaller, else failed by its size check; either way no
// file is left.
TEST_F(BoundedResourcesTest, EntryDeclaringFourGibibytesLeavesNoFile) {
  // Deflated (a stored entry must declare its own length): an empty final
  // block, so the stream ends long before the declared size.
  const std::string deflate_end = std::string("\x03\x00", 2);
  const std::string zip = BuildZip({{"setup.exe", deflate_end, 0xFFFFFFFEu, format::kMethodDeflated, 0}});
  const std::wstring package = work_ + L"big.zip";
  ASSERT_TRUE(testsupport::WriteWholeFile(package, zip));
  PeakScope peak("entry declaring 4 GiB", 32 * kMiB);
  std::wstring unzip;
  std::wstring setup;
  const int code = ExtractPackage(nullptr, nullptr, package, &unzip, &setup);
  EXPECT_TRUE(code == stubframework::archive::kPackageDiskFull || code == stubframework::archive::kPackageFailed)
      << code;
  EXPECT_TRUE(unzip.empty() || !FolderHasFiles(unzip)) << "a partial file was left";
}

// A download target of 300 characters: a failure code, nothing created.
TEST_F(BoundedResourcesTest, DownloadTargetOf300CharactersFailsAndCreatesNothing) {
  const std::string name = testsupport::UniqueKey() + ".bin";
  ASSERT_TRUE(servers_->PutPatternFile(name, 1000));
  std::wstring target = work_;
  target += std::wstring(300 - target.size() - 4, L'p') + L".bin";
  ASSERT_EQ(target.size(), 300u);
  PeakScope peak("download target of 300 characters", 16 * kMiB);
  const LONG code = PageDownload(servers_->NginxUrl("/" + name), target);
  printf("bounded: download to a 300-character path ended with code %ld\n", static_cast<long>(code));
  EXPECT_NE(code, stubframework::workflow::kNoError);
  EXPECT_NE(code, stubframework::workflow::kRunning);
  EXPECT_FALSE(FolderHasFiles(work_));
}

// A page's 10 MB text: a property keeps it whole (that is its job); as a
// download address it is a failure code, the target is left empty (a plain
// download creates it before its transfer), and the log's line stays short.
TEST_F(BoundedResourcesTest, TenMegabyteTextFromThePage) {
  const std::wstring big(10 * 1000 * 1000, L'x');
  {
    PeakScope peak("10 MB property set and read back", 160 * kMiB);
    ScriptArgs set;
    set.Text(L"big").Text(big.c_str());
    ASSERT_EQ(Call(L"setProperty", DISPATCH_METHOD, set), S_OK);
    ScriptArgs get;
    get.Text(L"big");
    VARIANT result;
    ::VariantInit(&result);
    ASSERT_EQ(Call(L"getProperty", DISPATCH_METHOD | DISPATCH_PROPERTYGET, get, &result), S_OK);
    ASSERT_EQ(result.vt, VT_BSTR);
    EXPECT_EQ(::SysStringLen(result.bstrVal), big.size());
    ::VariantClear(&result);
    ScriptArgs clear;
    clear.Text(L"big").Text(L"");
    ASSERT_EQ(Call(L"setProperty", DISPATCH_METHOD, clear), S_OK);
  }
  PeakScope peak("10 MB download address", 160 * kMiB);
  const std::wstring url = L"http://127.0.0.1:" + std::to_wstring(servers_->nginx_port()) + L"/" + big;
  const std::wstring target = work_ + L"from-big-url.bin";
  const LONG code = PageDownload(url, target);
  printf("bounded: 10 MB download address ended with code %ld\n", static_cast<long>(code));
  EXPECT_NE(code, stubframework::workflow::kNoError);
  EXPECT_NE(code, stubframework::workflow::kRunning);
  EXPECT_LE(testsupport::FileSizeOf(target), 0);
  ::DeleteFileW(target.c_str());
  EXPECT_FALSE(FolderHasFiles(work_));
  EXPECT_LT(LogText().size(), 1u * kMiB) << "a log line carried the whole address";
}

// A 10 MB value under HKCU reads as absent: the read is bounded.
TEST_F(BoundedResourcesTest, TenMegabyteRegistryValueReadsAsAbsent) {
  const std::wstring key = L"HKEY_CURRENT_USER\\Software\\StubBoundedTest\\" + std::to_wstring(::GetCurrentProcessId());
  const std::wstring big(5 * 1000 * 1000, L'r');  // 10 MB as UTF-16
  ASSERT_TRUE(stubframework::base::RegistryWriteValue(key, L"big", big, false));
  {
    PeakScope peak("10 MB registry value read by the page", 32 * kMiB);
    ScriptArgs args;
    args.Text(key.c_str()).Text(L"big");
    VARIANT result;
    ::VariantInit(&result);
    ASSERT_EQ(Call(L"getDataFromReg", DISPATCH_METHOD | DISPATCH_PROPERTYGET, args, &result), S_OK);
    ASSERT_EQ(result.vt, VT_BSTR);
    EXPECT_EQ(::SysStringLen(result.bstrVal), 0u);
    ::VariantClear(&result);
  }
  stubframework::base::RegistryDeleteKey(key, false);
  stubframework::base::RegistryDeleteKey(key, true);
  ::RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\StubBoundedTest");
}

}  // namespace
