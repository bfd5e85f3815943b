// Calls a delay-loaded function without restricting the DLL search first, as
// on a system without SetDefaultDllDirectories: start-up's notification hook
// alone must bring the system's urlmon.dll, not one beside this program.
// Exit 0: the system's DLL was loaded and its function answered; 2: another
// urlmon.dll was loaded; 1: the call failed.
#include <windows.h>
#include <delayimp.h>
#include <urlmon.h>

#include "app/launch.h"

namespace {

HRESULT WINAPI Missing(DWORD, LPSTR, DWORD*) { return E_NOTIMPL; }

// A DLL without the function (a planted one) makes the call fail instead of
// raising an exception.
FARPROC WINAPI OnFailure(unsigned notification, DelayLoadInfo*) {
  return notification == dliFailGetProc ? reinterpret_cast<FARPROC>(reinterpret_cast<void*>(Missing)) : nullptr;
}

}  // namespace

extern "C" {
PfnDliHook __pfnDliFailureHook2 = OnFailure;
}

int main() {
  // The notification hook is installed by the start-up code; this reference links it in.
  auto* volatile hook = &stubframework::app::LoadDelayedDllFromSystemFolder;
  (void)hook;
  char agent[256];
  DWORD size = sizeof(agent);
  const HRESULT hr = ObtainUserAgentString(0, agent, &size);
  HMODULE urlmon = GetModuleHandleW(L"urlmon.dll");
  wchar_t loaded[MAX_PATH] = {};
  wchar_t system[MAX_PATH] = {};
  if (urlmon == nullptr || GetModuleFileNameW(urlmon, loaded, MAX_PATH) == 0 ||
      GetSystemDirectoryW(system, MAX_PATH) == 0) {
    return 1;
  }
  if (CompareStringOrdinal(loaded, static_cast<int>(wcslen(system)), system, -1, TRUE) != CSTR_EQUAL) return 2;
  return hr == S_OK ? 0 : 1;
}
