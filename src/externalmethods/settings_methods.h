// Script methods that read and record the run's settings: language, channel,
// install status and the machine id.
#pragma once

#include <windows.h>

namespace stubframework::externalmethods {

class ExternalMethods;
class ScriptCall;

// getOSLang() and getLanguageByID(id): the language table's row for the
// user's UI language, or for an id.
HRESULT GetOSLangMethod(ExternalMethods& methods, ScriptCall& call);
HRESULT GetLanguageByIdMethod(ExternalMethods& methods, ScriptCall& call);
// getParsedInstallLanguage(code): the row whose code matches exactly; 0 for none.
HRESULT GetParsedInstallLanguageMethod(ExternalMethods& methods, ScriptCall& call);
// setLang(row): refused with STG_E_INVALIDPARAMETER outside the table.
HRESULT SetLangMethod(ExternalMethods& methods, ScriptCall& call);
HRESULT SetChannelMethod(ExternalMethods& methods, ScriptCall& call);
// setInstallStatus(status): refused with STG_E_INVALIDPARAMETER outside 0 .. 6.
HRESULT SetInstallStatusMethod(ExternalMethods& methods, ScriptCall& call);
HRESULT GetMachineIdMethod(ExternalMethods& methods, ScriptCall& call);

}  // namespace stubframework::externalmethods
