#include "externalmethods/method_host.h"

#include <windows.h>

namespace stubframework::externalmethods {

namespace {

const sysinfo::FactSource& Machine() {
  // Stateless: reads the machine afresh on every question.
  static const sysinfo::WindowsFacts machine;
  return machine;
}

}  // namespace

const sysinfo::FactSource& MachineAccess::facts() { return Machine(); }

bool MachineAccess::RequestRestart(UINT flags, DWORD reason) { return ::ExitWindowsEx(flags, reason) != FALSE; }

const sysinfo::FactSource& FactsOf(MachineAccess* machine) { return machine == nullptr ? Machine() : machine->facts(); }

}  // namespace stubframework::externalmethods
