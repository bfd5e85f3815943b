// Script methods that ask the user: message boxes, the folder picker, and a
// web page opened in the user's browser. Boxes and the picker are modal and
// owned by the UI's window, through the host seam.
#pragma once

#include <windows.h>

namespace stubframework::externalmethods {

class ExternalMethods;
class ScriptCall;

// messageBox(message, caption): OK only.
HRESULT MessageBoxMethod(ExternalMethods& methods, ScriptCall& call);
// messageBoxCancel(message, caption): Yes sets "CancelYes"; the page decides.
HRESULT MessageBoxCancelMethod(ExternalMethods& methods, ScriptCall& call);
// messageBoxError(message, caption): a warning; then "MsgOK" and the close request.
HRESULT MessageBoxErrorMethod(ExternalMethods& methods, ScriptCall& call);
// confirmMessageBox(message, caption) -> false only for Cancel.
HRESULT ConfirmMessageBoxMethod(ExternalMethods& methods, ScriptCall& call);
// selectFolder(initial) -> the chosen folder, or `initial` unchanged.
HRESULT SelectFolderMethod(ExternalMethods& methods, ScriptCall& call);
// openPage(url) -> whether the desktop shell took it.
HRESULT OpenPageMethod(ExternalMethods& methods, ScriptCall& call);

}  // namespace stubframework::externalmethods
