// What the computer says about itself for its identifier: the model WMI
// reports, and the permanent MAC addresses of its real network adapters.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "telemetry/machine_id.h"

namespace stubframework::telemetry {

// The model and manufacturer pairs of the virtual machines recognised,
// compared exactly.
bool IsVirtualMachineModel(const std::wstring& model, const std::wstring& manufacturer);

// Software ("root"), USB and Bluetooth adapters are skipped by their device
// path (lower-cased), and adapters whose description begins with "microsoft"
// (as Windows reports it) as well: the word found before position 8 skips it.
bool IsAdapterKept(const std::wstring& device_path, const std::wstring& description);

// "XX:XX:XX:XX:XX:XX" of exactly six bytes; empty for any other count.
std::wstring FormatMacAddress(const unsigned char* bytes, size_t count);

// The running computer, through WMI (COM must be initialised on the calling
// thread), SetupAPI and the NDIS statistics query.
class WindowsMachineSources final : public MachineSources {
 public:
  VmCheck CheckVirtualMachine() override;
  std::vector<std::wstring> MacAddresses() override;
  std::wstring NewGuid() override { return NewGuidString(); }
};

}  // namespace stubframework::telemetry
