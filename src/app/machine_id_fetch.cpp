#include "app/machine_id_fetch.h"

#include <objbase.h>

namespace stubframework::app {

MachineIdFetch::MachineIdFetch(Compute compute) : compute_(compute) {
  thread_.Reset(::CreateThread(nullptr, 0, Run, this, 0, nullptr));
  if (!thread_) ComputeInMta();
}

MachineIdFetch::~MachineIdFetch() {
  if (thread_) ::WaitForSingleObject(thread_.Get(), INFINITE);
}

const std::wstring& MachineIdFetch::Get() {
  // The thread's end orders its write of the value before every read.
  if (thread_) ::WaitForSingleObject(thread_.Get(), INFINITE);
  return value_;
}

DWORD WINAPI MachineIdFetch::Run(void* self) {
  static_cast<MachineIdFetch*>(self)->ComputeInMta();
  return 0;
}

void MachineIdFetch::ComputeInMta() {
  // On a thread that already has an apartment (the inline case) this fails
  // and the computation runs in that one.
  const HRESULT com = ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  value_ = compute_();
  if (SUCCEEDED(com)) ::CoUninitialize();
}

}  // namespace stubframework::app
