// Script methods that start programs, manage the desktop shortcut and
// restart the computer.
#pragma once

#include <windows.h>

namespace stubframework::externalmethods {

class ExternalMethods;
class ScriptCall;

// startProgram(file, parameters): through the desktop shell, as the user.
HRESULT StartProgramMethod(ExternalMethods& methods, ScriptCall& call);
// runApplication(commandLine) -> whether the process was created.
HRESULT RunApplicationMethod(ExternalMethods& methods, ScriptCall& call);
// executeCommand(command) -> whether the hidden command interpreter started.
HRESULT ExecuteCommandMethod(ExternalMethods& methods, ScriptCall& call);
// startRegApps(): starts what the install registered and drops its record.
HRESULT StartRegAppsMethod(ExternalMethods& methods, ScriptCall& call);
// manageDesktopShortcut(fileName, create).
HRESULT ManageDesktopShortcutMethod(ExternalMethods& methods, ScriptCall& call);
HRESULT IsSilentLaunchStubMethod(ExternalMethods& methods, ScriptCall& call);
// restartSystem(message, caption): asks OK/Cancel first.
HRESULT RestartSystemMethod(ExternalMethods& methods, ScriptCall& call);
HRESULT RestartSystemNoMsgMethod(ExternalMethods& methods, ScriptCall& call);

}  // namespace stubframework::externalmethods
