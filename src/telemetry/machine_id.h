// The machine identifier that reports carry: the same on every run on one
// computer. Derived from the lowest permanent MAC address of the real network
// adapters on a physical computer, a random GUID on a recognised virtual
// machine, kept DPAPI-protected on disk and cached for the process.
#pragma once

#include <string>
#include <vector>

namespace stubframework::telemetry {

inline constexpr wchar_t kNoMachineId[] = L"X-XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX";
inline constexpr wchar_t kNoGuid[] = L"XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX";
inline constexpr size_t kMachineIdLength = 38;

// The identifier, computed once per process; kNoMachineId when none could be
// made (the next call tries again). Initialises COM on this thread around the work.
std::wstring GetMachineId();

// A fresh GUID, 36 upper-case characters without braces; kNoGuid when none can be made.
std::wstring NewGuidString();

// Whether WMI could be asked, and whether the computer is a virtual machine
// it recognises.
struct VmCheck {
  bool worked = false;
  bool is_vm = false;
};

// Where the identifier comes from; the computer's own in GetMachineId.
class MachineSources {
 public:
  virtual VmCheck CheckVirtualMachine() = 0;
  // "XX:XX:XX:XX:XX:XX" of each real adapter's permanent address.
  virtual std::vector<std::wstring> MacAddresses() = 0;
  virtual std::wstring NewGuid() = 0;

 protected:
  ~MachineSources() = default;
};

// Where the identifier is kept between runs.
class IdStore {
 public:
  virtual bool Read(std::wstring* text) = 0;
  virtual bool Write(const std::wstring& text) = 0;

 protected:
  ~IdStore() = default;
};

// The computation without the cache: a stored 38-character text is used as it
// is (the virtual-machine check is then not made); otherwise a virtual machine gets "V-" + a new GUID, used only if it
// could be stored, and a physical one the identifier derived from its lowest
// MAC address, used whether or not it could be stored. False when there is
// nothing to use.
bool ComputeMachineId(MachineSources& sources, IdStore& store, std::wstring* id);

// "P-" + 36 characters in the 8-4-4-4-12 pattern filled with the letters and
// digits of `mac`, repeated in order; empty when `mac` has none.
std::wstring DeriveMachineId(const std::wstring& mac);

}  // namespace stubframework::telemetry
