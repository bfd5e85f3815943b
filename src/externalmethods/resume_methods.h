// The script methods of resuming after a restart: getResumeMode,
// runAfterReboot and undoRunAfterReboot.
#pragma once

#include <windows.h>

namespace stubframework::externalmethods {

class ExternalMethods;
class ScriptCall;

// getResumeMode(): NONE 0, DOWNLOADING 1, INSTALLING 2, from the command line.
HRESULT GetResumeModeMethod(ExternalMethods& methods, ScriptCall& call);
// runAfterReboot(mode): the RunOnce entry that starts the stub again with
// "RESUME=<mode>". Always succeeds.
HRESULT RunAfterRebootMethod(ExternalMethods& methods, ScriptCall& call);
// undoRunAfterReboot(): removes that entry. Always succeeds.
HRESULT UndoRunAfterRebootMethod(ExternalMethods& methods, ScriptCall& call);

}  // namespace stubframework::externalmethods
