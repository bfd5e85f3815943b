#include "telemetry/machine_id.h"

#include <windows.h>
#include <objbase.h>

#include <algorithm>

#include "telemetry/machine_id_store.h"
#include "telemetry/machine_probe.h"

namespace stubframework::telemetry {

namespace {

constexpr size_t kDerivedLength = 36;

bool IsAsciiLetterOrDigit(wchar_t c) {
  return (c >= L'0' && c <= L'9') || (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z');
}

bool IsDashPosition(size_t i) { return i == 8 || i == 13 || i == 18 || i == 23; }

// The identifier computed once per process, by the first thread that asks;
// a failed computation is tried again by the next caller. Plain data, so it
// needs no constructor or destructor of its own.
struct IdCache {
  INIT_ONCE once;
  wchar_t text[kMachineIdLength + 1];
};

BOOL CALLBACK ComputeOnce(PINIT_ONCE, PVOID parameter, PVOID*) {
  WindowsMachineSources sources;
  DpapiIdStore store(MachineIdStorePath());
  std::wstring id;
  if (!ComputeMachineId(sources, store, &id) || id.size() > kMachineIdLength) return FALSE;
  std::copy(id.begin(), id.end(), static_cast<wchar_t*>(parameter));
  return TRUE;
}

bool GetUniqueId(std::wstring* out) {
  static IdCache cache = {INIT_ONCE_STATIC_INIT, {}};
  if (!::InitOnceExecuteOnce(&cache.once, ComputeOnce, cache.text, nullptr)) return false;
  *out = cache.text;
  return true;
}

}  // namespace

std::wstring DeriveMachineId(const std::wstring& mac) {
  std::wstring digits;
  for (wchar_t c : mac) {
    if (IsAsciiLetterOrDigit(c)) digits.push_back(c);
  }
  if (digits.empty()) return std::wstring();
  std::wstring id = L"P-";
  size_t next = 0;
  for (size_t i = 0; i < kDerivedLength; ++i) {
    if (IsDashPosition(i)) {
      id.push_back(L'-');
    } else {
      id.push_back(digits[next]);
      next = (next + 1) % digits.size();
    }
  }
  return id;
}

bool ComputeMachineId(MachineSources& sources, IdStore& store, std::wstring* id) {
  // A stored identifier stands on the virtual and the physical path alike, so
  // the WMI query (tens of milliseconds and a dozen DLLs at every start) is
  // made only when there is none.
  std::wstring stored;
  if (store.Read(&stored) && stored.size() == kMachineIdLength) {
    *id = stored;
    return true;
  }
  VmCheck vm = sources.CheckVirtualMachine();
  if (vm.worked && vm.is_vm) {
    std::wstring guid = sources.NewGuid();
    if (guid == kNoGuid) return false;
    std::wstring candidate = L"V-" + guid;
    // Only an identifier the next run can find again is used.
    if (!store.Write(candidate)) return false;
    *id = candidate;
    return true;
  }
  std::vector<std::wstring> macs = sources.MacAddresses();
  if (macs.empty()) return false;
  std::wstring derived = DeriveMachineId(*std::min_element(macs.begin(), macs.end()));
  if (derived.empty()) return false;
  // The address gives the same identifier again, stored or not.
  store.Write(derived);
  *id = derived;
  return true;
}

std::wstring NewGuidString() {
  GUID guid;
  wchar_t text[64] = {};
  if (FAILED(::CoCreateGuid(&guid)) || ::StringFromGUID2(guid, text, 64) != 39) return kNoGuid;
  return std::wstring(text + 1, 36);  // without the braces
}

std::wstring GetMachineId() {
  std::wstring id = kNoMachineId;
  HRESULT com = ::CoInitialize(nullptr);
  GetUniqueId(&id);
  if (SUCCEEDED(com)) ::CoUninitialize();
  return id;
}

}  // namespace stubframework::telemetry
