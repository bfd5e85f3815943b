// The machine identifier: its derivation, the paths through virtual and
// physical machines, the DPAPI store on disk and what Wine really reports.
#include <gtest/gtest.h>
#include <windows.h>
#include <aclapi.h>
#include <objbase.h>

#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "base/temp_folder.h"
#include "telemetry/machine_id.h"
#include "telemetry/machine_id_store.h"
#include "telemetry/machine_probe.h"
#include "support/security_probe.h"

namespace stubframework::telemetry {
namespace {

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

class FakeSources final : public MachineSources {
 public:
  VmCheck vm;
  std::vector<std::wstring> macs;
  std::wstring guid = L"2B7C1E0A-9D3F-4C55-8A1B-6E2F0D4C3B2A";
  int guid_calls = 0;
  int vm_checks = 0;

  VmCheck CheckVirtualMachine() override {
    ++vm_checks;
    return vm;
  }
  std::vector<std::wstring> MacAddresses() override { return macs; }
  std::wstring NewGuid() override {
    ++guid_calls;
    return guid;
  }
};

class MemoryStore final : public IdStore {
 public:
  bool readable = false;
  bool writable = true;
  std::wstring text;
  int writes = 0;

  bool Read(std::wstring* out) override {
    if (readable) *out = text;
    return readable;
  }
  bool Write(const std::wstring& value) override {
    ++writes;
    if (!writable) return false;
    text = value;
    readable = true;
    return true;
  }
};

const wchar_t kDerived[] = L"P-001A2B3C-4D5E-001A-2B3C-4D5E001A2B3C";

TEST(DeriveMachineIdTest, LettersAndDigitsOfTheAddressRepeatedIntoTheGuidPattern) {
  EXPECT_EQ(DeriveMachineId(L"00:1A:2B:3C:4D:5E"), kDerived);
  EXPECT_EQ(DeriveMachineId(L"aa-bb-cc-dd-ee-ff"), L"P-aabbccdd-eeff-aabb-ccdd-eeffaabbccdd");
  EXPECT_EQ(DeriveMachineId(L"AB"), L"P-ABABABAB-ABAB-ABAB-ABAB-ABABABABABAB");
  EXPECT_EQ(DeriveMachineId(L"::--"), L"") << "nothing to walk: no identifier rather than an endless walk";
  EXPECT_EQ(DeriveMachineId(L""), L"");
  EXPECT_EQ(DeriveMachineId(L"00:1A:2B:3C:4D:5E").size(), kMachineIdLength);
}

TEST(ComputeMachineIdTest, PhysicalComputerUsesItsLowestAddressAndStoresIt) {
  FakeSources sources;
  sources.macs = {L"00:50:56:C0:00:08", L"00:1A:2B:3C:4D:5E", L"F0:00:00:00:00:00"};
  MemoryStore store;
  std::wstring id;
  ASSERT_TRUE(ComputeMachineId(sources, store, &id));
  EXPECT_EQ(id, kDerived);
  EXPECT_EQ(store.text, kDerived);
  EXPECT_EQ(sources.guid_calls, 0);
}

TEST(ComputeMachineIdTest, PhysicalIdentifierStandsEvenWhenItCannotBeStored) {
  FakeSources sources;
  sources.macs = {L"00:1A:2B:3C:4D:5E"};
  sources.vm.worked = false;  // WMI failing also takes the physical path
  sources.vm.is_vm = true;
  MemoryStore store;
  store.writable = false;
  std::wstring id;
  ASSERT_TRUE(ComputeMachineId(sources, store, &id));
  EXPECT_EQ(id, kDerived);
}

TEST(ComputeMachineIdTest, AStored38CharacterTextIsUsedUnchangedWhateverItsPrefix) {
  for (bool vm : {false, true}) {
    FakeSources sources;
    sources.vm = {true, vm};
    sources.macs = {L"00:1A:2B:3C:4D:5E"};
    MemoryStore store;
    store.readable = true;
    store.text = L"V-0D3E5F7A-1B2C-4D5E-8F90-A1B2C3D4E5F6";  // from the time this computer was virtual
    std::wstring id;
    ASSERT_TRUE(ComputeMachineId(sources, store, &id));
    EXPECT_EQ(id, store.text);
    EXPECT_EQ(store.writes, 0);
    EXPECT_EQ(sources.vm_checks, 0) << "a stored identifier needs no WMI query at start-up";
  }
}

TEST(ComputeMachineIdTest, AStoredTextOfAnotherLengthIsReplaced) {
  for (const wchar_t* stored :
       {L"P-001A2B3C-4D5E-001A-2B3C-4D5E001A2B3", L"P-001A2B3C-4D5E-001A-2B3C-4D5E001A2B3CD", L""}) {
    FakeSources sources;
    sources.macs = {L"00:1A:2B:3C:4D:5E"};
    MemoryStore store;
    store.readable = true;
    store.text = stored;
    std::wstring id;
    ASSERT_TRUE(ComputeMachineId(sources, store, &id)) << Narrow(stored);
    EXPECT_EQ(id, kDerived);
    EXPECT_EQ(store.text, kDerived);
    EXPECT_EQ(sources.vm_checks, 1) << "without a usable stored text the machine is asked what it is";
  }
}

TEST(ComputeMachineIdTest, VirtualMachineGetsAStoredRandomIdentifierOrNone) {
  FakeSources sources;
  sources.vm = {true, true};
  sources.macs = {L"00:1A:2B:3C:4D:5E"};
  MemoryStore store;
  std::wstring id;
  ASSERT_TRUE(ComputeMachineId(sources, store, &id));
  EXPECT_EQ(id, L"V-2B7C1E0A-9D3F-4C55-8A1B-6E2F0D4C3B2A");
  EXPECT_EQ(store.text, id);

  MemoryStore unwritable;
  unwritable.writable = false;
  std::wstring none = L"unchanged";
  EXPECT_FALSE(ComputeMachineId(sources, unwritable, &none)) << "an identifier the next run cannot find is not used";
  EXPECT_EQ(none, L"unchanged");

  sources.guid = kNoGuid;
  MemoryStore fresh;
  EXPECT_FALSE(ComputeMachineId(sources, fresh, &none)) << "no GUID, no identifier";
  EXPECT_EQ(fresh.writes, 0);
}

TEST(ComputeMachineIdTest, PhysicalComputerWithoutUsableAdaptersHasNone) {
  FakeSources sources;
  MemoryStore store;
  std::wstring id;
  EXPECT_FALSE(ComputeMachineId(sources, store, &id));
  EXPECT_EQ(store.writes, 0);
}

TEST(MachineProbeTest, OnlyTheListedVirtualMachinesExactly) {
  EXPECT_TRUE(IsVirtualMachineModel(L"VirtualBox", L"innotek GmbH"));
  EXPECT_TRUE(IsVirtualMachineModel(L"VMware Virtual Platform", L"VMware, Inc."));
  EXPECT_TRUE(IsVirtualMachineModel(L"Virtual Machine", L"Microsoft Corporation"));
  EXPECT_FALSE(IsVirtualMachineModel(L"virtualbox", L"innotek GmbH"));
  EXPECT_FALSE(IsVirtualMachineModel(L"VirtualBox", L"Microsoft Corporation"));
  EXPECT_FALSE(IsVirtualMachineModel(L"Virtual Machine ", L"Microsoft Corporation"));
  EXPECT_FALSE(IsVirtualMachineModel(L"Wine", L"The Wine Project"));
}

TEST(MachineProbeTest, SoftwareUsbAndBluetoothAdaptersAreSkipped) {
  const struct {
    const wchar_t* path;
    const wchar_t* description;
    bool kept;
  } cases[] = {
      {L"\\\\?\\pci#ven_8086&dev_15bc#3&11583659&0&fe#{ad498944-762f-11d0-8dcb-00c04fc3358c}", L"Intel(R) Ethernet",
       true},
      {L"\\\\?\\root#net#0000#{ad498944-762f-11d0-8dcb-00c04fc3358c}", L"TAP adapter", false},
      {L"\\\\?\\ROOT#VMS_MP#0000#{ad498944}", L"Hyper-V", false},
      {L"\\\\?\\usb#vid_0b95&pid_1790#{ad498944}", L"USB Ethernet", false},
      {L"\\\\?\\bthenum#{ad498944}", L"Bluetooth PAN", false},
      {L"\\\\?\\pci#usb_like_name#{ad498944}", L"Realtek", true},  // "usb" only after position 8
      {L"\\\\?\\pci#ven_1", L"microsoft kernel debug", false},
      {L"\\\\?\\pci#ven_1", L"Microsoft Wi-Fi Direct Virtual Adapter", true},  // the description keeps its case
      {L"\\\\?\\pci#ven_1", L"Intel microsoft", false},  // position 6
      {L"\\\\?\\pci#ven_1", L"Realtek for microsoft", true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(IsAdapterKept(c.path, c.description), c.kept) << Narrow(c.path) << " / " << Narrow(c.description);
  }
}

TEST(MachineProbeTest, MacTextOnlyFromExactlySixBytes) {
  const unsigned char bytes[8] = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E, 0xFF, 0xFF};
  EXPECT_EQ(FormatMacAddress(bytes, 6), L"00:1A:2B:3C:4D:5E");
  EXPECT_EQ(FormatMacAddress(bytes, 5), L"");
  EXPECT_EQ(FormatMacAddress(bytes, 8), L"");
}

class IdStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = base::MakeUniqueFolder(base::TemporaryPath());
    ASSERT_FALSE(folder_.empty());
    path_ = folder_ + L"data";
  }
  void TearDown() override { base::DeleteFolderRecursive(folder_); }

  std::string FileBytes() const {
    std::string bytes;
    HANDLE f = ::CreateFileW(path_.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) return bytes;
    char buffer[4096];
    DWORD read = 0;
    while (::ReadFile(f, buffer, sizeof(buffer), &read, nullptr) && read > 0) bytes.append(buffer, read);
    ::CloseHandle(f);
    return bytes;
  }
  void WriteBytes(const std::string& bytes) {
    HANDLE f = ::CreateFileW(path_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    ::WriteFile(f, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    ::CloseHandle(f);
  }

  std::wstring folder_;
  std::wstring path_;
};

TEST_F(IdStoreTest, ProtectedRoundTripThatNeverHoldsThePlainText) {
  DpapiIdStore store(path_);
  std::wstring text;
  EXPECT_FALSE(store.Read(&text)) << "no file yet";
  ASSERT_TRUE(store.Write(kDerived));
  std::string blob = FileBytes();
  EXPECT_GT(blob.size(), 76u);
  std::wstring plain(kDerived);
  EXPECT_EQ(blob.find(std::string(reinterpret_cast<const char*>(plain.data()), plain.size() * 2)), std::string::npos);
  ASSERT_TRUE(store.Read(&text));
  EXPECT_EQ(text, kDerived);
  EXPECT_EQ(text.size(), kMachineIdLength);
}

TEST_F(IdStoreTest, DamagedEmptyOrOversizedFilesDoNotRead) {
  DpapiIdStore store(path_);
  ASSERT_TRUE(store.Write(kDerived));
  std::string blob = FileBytes();
  blob[blob.size() / 2] ^= 0x5A;
  WriteBytes(blob);
  std::wstring text;
  EXPECT_FALSE(store.Read(&text));
  WriteBytes(std::string());
  EXPECT_FALSE(store.Read(&text));
  WriteBytes(std::string(20 * 1024, 'x'));
  EXPECT_FALSE(store.Read(&text));
}

TEST_F(IdStoreTest, AStoreThatCannotBeWrittenFailsTheVirtualPath) {
  DpapiIdStore store(folder_ + L"no\\such\\folder\\data");
  EXPECT_FALSE(store.Write(kDerived));
  FakeSources sources;
  sources.vm = {true, true};
  std::wstring id;
  EXPECT_FALSE(ComputeMachineId(sources, store, &id));
}

TEST_F(IdStoreTest, WaitsForAHolderThatLetsGoWithinThreeSeconds) {
  ASSERT_TRUE(DpapiIdStore(path_).Write(kDerived));
  HANDLE held = ::CreateFileW(path_.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  std::thread release([held] {
    ::Sleep(300);
    ::CloseHandle(held);
  });
  const DWORD start = ::GetTickCount();
  std::wstring text;
  bool read = DpapiIdStore(path_).Read(&text);
  const DWORD waited = ::GetTickCount() - start;
  release.join();
  EXPECT_TRUE(read);
  EXPECT_EQ(text, kDerived);
  EXPECT_GE(waited, 250u);
}

TEST_F(IdStoreTest, GivesUpOnAHolderAfterThreeSeconds) {
  ASSERT_TRUE(DpapiIdStore(path_).Write(kDerived));
  HANDLE held = ::CreateFileW(path_.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  const DWORD start = ::GetTickCount();
  std::wstring text;
  EXPECT_FALSE(DpapiIdStore(path_).Read(&text));
  const DWORD waited = ::GetTickCount() - start;
  ::CloseHandle(held);
  EXPECT_GE(waited, 3000u - 50);
  // Another error than sharing fails at once.
  const DWORD again = ::GetTickCount();
  EXPECT_FALSE(DpapiIdStore(folder_ + L"missing").Read(&text));
  EXPECT_LT(::GetTickCount() - again, 1000u);
}

// The store's folder under an all-users folder of the test's own: made with
// a protected access list, refused when someone else made it first, and its
// file never written through a second name.
TEST(MachineIdStoreFolderTest, TheFolderIsOursOrTheStoreIsNotUsed) {
  const std::wstring root = base::MakeUniqueFolder(base::TemporaryPath());
  ASSERT_FALSE(root.empty());
  const std::wstring path = MachineIdStorePathIn(root);
  ASSERT_EQ(path, root + L"UniqueId\\data");
  EXPECT_EQ(MachineIdStorePathIn(root), path) << "our own folder serves again";
  const bool kept = testsupport::PlatformKeepsFileSecurity(root);
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  ASSERT_EQ(::GetNamedSecurityInfoW((root + L"UniqueId").c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                    nullptr, &dacl, nullptr, &descriptor),
            static_cast<DWORD>(ERROR_SUCCESS));
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  ::GetSecurityDescriptorControl(descriptor, &control, &revision);
  ::LocalFree(descriptor);
  if (kept) EXPECT_TRUE(control & SE_DACL_PROTECTED);
  EXPECT_TRUE(DpapiIdStore(path).Write(L"first"));
  std::wstring text;
  EXPECT_TRUE(DpapiIdStore(path).Read(&text));
  EXPECT_EQ(text, L"first");

  // "data" as a second name of another file: that file is not truncated.
  const std::wstring victim = root + L"victim.txt";
  HANDLE file = ::CreateFileW(victim.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  DWORD written = 0;
  ::WriteFile(file, "precious", 8, &written, nullptr);
  ::CloseHandle(file);
  ASSERT_TRUE(::DeleteFileW(path.c_str()));
  if (::CreateHardLinkW(path.c_str(), victim.c_str(), nullptr)) {
    EXPECT_FALSE(DpapiIdStore(path).Write(L"second"));
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    ASSERT_TRUE(::GetFileAttributesExW(victim.c_str(), GetFileExInfoStandard, &data));
    EXPECT_EQ(data.nFileSizeLow, 8u);
  }

  if (!kept) {
    base::DeleteFolderRecursive(root);
    GTEST_SKIP() << "no refusal by owner: " << testsupport::kNoStoredSecurity;
  }
  // A "UniqueId" another account made first.
  const std::wstring other_root = root + L"other\\";
  ASSERT_TRUE(::CreateDirectoryW(other_root.c_str(), nullptr));
  ASSERT_TRUE(::CreateDirectoryW((other_root + L"UniqueId").c_str(), nullptr));
  BYTE users[SECURITY_MAX_SID_SIZE];
  DWORD size = sizeof(users);
  ASSERT_TRUE(::CreateWellKnownSid(WinBuiltinUsersSid, nullptr, users, &size));
  std::wstring planted = other_root + L"UniqueId";
  ASSERT_EQ(::SetNamedSecurityInfoW(&planted[0], SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, users, nullptr, nullptr,
                                    nullptr),
            static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_EQ(MachineIdStorePathIn(other_root), L"") << "no store in a folder someone else owns";
  EXPECT_FALSE(DpapiIdStore(MachineIdStorePathIn(other_root)).Write(L"x"));
  EXPECT_EQ(::GetFileAttributesW((planted + L"\\data").c_str()), INVALID_FILE_ATTRIBUTES);
  base::DeleteFolderRecursive(root);
}

// What the test prefix reports: WMI answers with Wine's own model, SetupAPI
// lists no network adapters, so with no stored identifier there is none.
TEST(RealMachineIdTest, WineIsAPhysicalComputerWithoutListedAdapters) {
  ::CoInitialize(nullptr);
  WindowsMachineSources sources;
  VmCheck vm = sources.CheckVirtualMachine();
  EXPECT_TRUE(vm.worked);
  EXPECT_FALSE(vm.is_vm);
  std::vector<std::wstring> macs = sources.MacAddresses();
  for (const std::wstring& mac : macs) {
    EXPECT_TRUE(std::regex_match(Narrow(mac), std::regex("([0-9A-F]{2}:){5}[0-9A-F]{2}"))) << Narrow(mac);
  }
  std::wstring guid = sources.NewGuid();
  EXPECT_TRUE(std::regex_match(Narrow(guid), std::regex("[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}")));
  EXPECT_NE(guid, sources.NewGuid());
  ::CoUninitialize();

  std::wstring stored;
  bool has_store = DpapiIdStore(MachineIdStorePath()).Read(&stored) && stored.size() == kMachineIdLength;
  std::wstring id = GetMachineId();
  if (has_store) {
    EXPECT_EQ(id, stored);
  } else if (macs.empty()) {
    EXPECT_EQ(id, kNoMachineId);
  } else {
    EXPECT_EQ(id[0], L'P');
  }
  EXPECT_EQ(GetMachineId(), id) << "the same identifier for the whole process";
  EXPECT_NE(MachineIdStorePath().find(L"\\UniqueId\\data"), std::wstring::npos);
}

}  // namespace
}  // namespace stubframework::telemetry
