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

const sysinfo::FactSource& MethodHost::facts() { return Machine(); }

bool MethodHost::RequestRestart(UINT flags, DWORD reason) { return ::ExitWindowsEx(flags, reason) != FALSE; }

const sysinfo::FactSource& FactsOf(MethodHost* host) { return host == nullptr ? Machine() : host->facts(); }

}  // namespace stubframework::externalmethods
