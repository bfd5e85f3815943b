// Script methods that act on the UI's window through the host seam, whichever
// host shows the pages.
#pragma once

#include <windows.h>

namespace stubframework::externalmethods {

class ExternalMethods;
class ScriptCall;

// closeWindow(): ends the run through the host's quit flag.
HRESULT CloseWindowMethod(ExternalMethods& methods, ScriptCall& call);
// setWindowSize(width, height): sizes the window by the placement rule.
HRESULT SetWindowSizeMethod(ExternalMethods& methods, ScriptCall& call);
// messageBoxExit(message, caption): asks Yes/No; Yes closes the window.
HRESULT MessageBoxExitMethod(ExternalMethods& methods, ScriptCall& call);
// minimizeWindow(), hideWindow(), showWindow(), dragWindow().
HRESULT MinimizeWindowMethod(ExternalMethods& methods, ScriptCall& call);
HRESULT HideWindowMethod(ExternalMethods& methods, ScriptCall& call);
HRESULT ShowWindowMethod(ExternalMethods& methods, ScriptCall& call);
HRESULT DragWindowMethod(ExternalMethods& methods, ScriptCall& call);
// terminateWindow(): the process ends at once with exit code 0.
HRESULT TerminateWindowMethod(ExternalMethods& methods, ScriptCall& call);

}  // namespace stubframework::externalmethods
