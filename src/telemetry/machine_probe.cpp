#include "telemetry/machine_probe.h"

#include <windows.h>
#include <objbase.h>
#include <setupapi.h>
#include <wbemidl.h>
#include <wrl/client.h>

#include <cwctype>
#include <memory>
#include <new>

#include "base/bstr.h"
#include "base/unique_handle.h"
#include "base/variant.h"
#include "base/wide_format.h"

namespace stubframework::telemetry {

namespace {

using Microsoft::WRL::ComPtr;

struct VmModel {
  const wchar_t* model;
  const wchar_t* manufacturer;
};

constexpr VmModel kVirtualMachines[] = {
    {L"VirtualBox", L"innotek GmbH"},
    {L"VMware Virtual Platform", L"VMware, Inc."},
    {L"Virtual Machine", L"Microsoft Corporation"},
};

// The network adapter device interface class.
constexpr GUID kNdisLanClass = {0xad498944, 0x762f, 0x11d0, {0x8d, 0xcb, 0x00, 0xc0, 0x4f, 0xc3, 0x35, 0x8c}};
constexpr DWORD kIoctlNdisQueryGlobalStats = 0x170002;
constexpr DWORD kOid8023PermanentAddress = 0x01010101;

constexpr size_t kPrefixWindow = 8;
constexpr DWORD kDescriptionChars = 1024;
// A device path longer than this is not a network adapter's.
constexpr DWORD kMaxInterfaceDetailBytes = 64 * 1024;

bool FoundBefore(const std::wstring& text, const wchar_t* word, size_t limit) {
  size_t at = text.find(word);
  return at != std::wstring::npos && at < limit;
}

struct DeviceInfoSetTraits {
  using Type = HDEVINFO;
  static Type Invalid() { return INVALID_HANDLE_VALUE; }
  static bool IsValid(Type h) { return h != INVALID_HANDLE_VALUE && h != nullptr; }
  static void Close(Type h) { ::SetupDiDestroyDeviceInfoList(h); }
};
using UniqueDeviceInfoSet = base::UniqueResource<DeviceInfoSetTraits>;

std::wstring TextProperty(IWbemClassObject* object, const wchar_t* name) {
  base::UniqueVariant value;
  if (FAILED(object->Get(name, 0, value.Receive(), nullptr, nullptr)) || value.Type() != VT_BSTR) {
    return std::wstring();
  }
  BSTR text = value.Get()->bstrVal;
  return text == nullptr ? std::wstring() : std::wstring(text, ::SysStringLen(text));
}

std::wstring InterfacePath(HDEVINFO set, SP_DEVICE_INTERFACE_DATA* interface_data) {
  DWORD required = 0;
  ::SetupDiGetDeviceInterfaceDetailW(set, interface_data, nullptr, 0, &required, nullptr);
  if (required < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W) || required > kMaxInterfaceDetailBytes) {
    return std::wstring();
  }
  std::unique_ptr<BYTE[]> buffer(new (std::nothrow) BYTE[required + sizeof(wchar_t)]());
  if (!buffer) return std::wstring();
  auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(buffer.get());
  detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
  if (!::SetupDiGetDeviceInterfaceDetailW(set, interface_data, detail, required, nullptr, nullptr)) {
    return std::wstring();
  }
  return detail->DevicePath;
}

std::wstring DeviceDescription(HDEVINFO set, DWORD index) {
  SP_DEVINFO_DATA info = {};
  info.cbSize = sizeof(info);
  if (!::SetupDiEnumDeviceInfo(set, index, &info)) return std::wstring();
  wchar_t text[kDescriptionChars + 1] = {};
  if (!::SetupDiGetDeviceRegistryPropertyW(set, &info, SPDRP_DEVICEDESC, nullptr, reinterpret_cast<BYTE*>(text),
                                           kDescriptionChars * sizeof(wchar_t), nullptr)) {
    return std::wstring();
  }
  return text;
}

std::wstring PermanentAddress(const std::wstring& device_path) {
  base::UniqueHandle device(::CreateFileW(device_path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                          OPEN_EXISTING, 0, nullptr));
  if (!device) return std::wstring();
  DWORD oid = kOid8023PermanentAddress;
  unsigned char address[8] = {};
  DWORD returned = 0;
  if (!::DeviceIoControl(device.Get(), kIoctlNdisQueryGlobalStats, &oid, sizeof(oid), address, sizeof(address),
                         &returned, nullptr)) {
    return std::wstring();
  }
  return FormatMacAddress(address, returned);
}

}  // namespace

bool IsVirtualMachineModel(const std::wstring& model, const std::wstring& manufacturer) {
  for (const VmModel& vm : kVirtualMachines) {
    if (model == vm.model && manufacturer == vm.manufacturer) return true;
  }
  return false;
}

bool IsAdapterKept(const std::wstring& device_path, const std::wstring& description) {
  std::wstring lower = device_path;
  for (wchar_t& c : lower) c = static_cast<wchar_t>(std::towlower(c));
  for (const wchar_t* word : {L"root", L"usb", L"bth"}) {
    if (FoundBefore(lower, word, kPrefixWindow)) return false;
  }
  return !FoundBefore(description, L"microsoft", kPrefixWindow);
}

std::wstring FormatMacAddress(const unsigned char* bytes, size_t count) {
  if (count != 6) return std::wstring();
  return base::Format(L"%02X:%02X:%02X:%02X:%02X:%02X", bytes[0], bytes[1], bytes[2], bytes[3], bytes[4], bytes[5]);
}

VmCheck WindowsMachineSources::CheckVirtualMachine() {
  VmCheck check;
  ComPtr<IWbemLocator> locator;
  if (FAILED(::CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_IWbemLocator,
                                reinterpret_cast<void**>(locator.GetAddressOf())))) {
    return check;
  }
  base::UniqueBstr root(L"ROOT\\CIMV2");
  ComPtr<IWbemServices> services;
  if (FAILED(locator->ConnectServer(root.Get(), nullptr, nullptr, nullptr, 0, nullptr, nullptr,
                                    services.GetAddressOf()))) {
    return check;
  }
  if (FAILED(::CoSetProxyBlanket(services.Get(), RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr, RPC_C_AUTHN_LEVEL_CALL,
                                 RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE))) {
    return check;
  }
  base::UniqueBstr language(L"WQL");
  base::UniqueBstr query(L"SELECT * FROM Win32_ComputerSystem");
  ComPtr<IEnumWbemClassObject> rows;
  if (FAILED(services->ExecQuery(language.Get(), query.Get(), WBEM_FLAG_FORWARD_ONLY | WBEM_FLAG_RETURN_IMMEDIATELY,
                                 nullptr, rows.GetAddressOf())) ||
      !rows) {
    return check;
  }
  ComPtr<IWbemClassObject> row;
  ULONG count = 0;
  if (FAILED(rows->Next(WBEM_INFINITE, 1, row.GetAddressOf(), &count)) || count == 0 || !row) return check;
  check.worked = true;
  check.is_vm = IsVirtualMachineModel(TextProperty(row.Get(), L"model"), TextProperty(row.Get(), L"manufacturer"));
  return check;
}

std::vector<std::wstring> WindowsMachineSources::MacAddresses() {
  std::vector<std::wstring> addresses;
  UniqueDeviceInfoSet set(
      ::SetupDiGetClassDevsW(&kNdisLanClass, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE));
  if (!set) return addresses;
  for (DWORD i = 0;; ++i) {
    SP_DEVICE_INTERFACE_DATA interface_data = {};
    interface_data.cbSize = sizeof(interface_data);
    if (!::SetupDiEnumDeviceInterfaces(set.Get(), nullptr, &kNdisLanClass, i, &interface_data)) break;
    std::wstring path = InterfacePath(set.Get(), &interface_data);
    if (path.empty() || !IsAdapterKept(path, DeviceDescription(set.Get(), i))) continue;
    std::wstring address = PermanentAddress(path);
    if (!address.empty()) addresses.push_back(address);
  }
  return addresses;
}

}  // namespace stubframework::telemetry
