// The script methods that maintain an installed product: removal, repair, the
// search for a package file, the uninstall entry and the uninstall-mode query.
// The method table's dispatcher has checked the call and logged the tag.
#pragma once

#include <windows.h>

namespace stubframework::externalmethods {

class ExternalMethods;
class ScriptCall;

// removeProgram(name, forceMsiexec, productCode, callback)
HRESULT RemoveProgramMethod(ExternalMethods& methods, ScriptCall& call);
// repairProgram(name, productCode, callback)
HRESULT RepairProgramMethod(ExternalMethods& methods, ScriptCall& call);
// verifyFileInSpecialDirectory(rootFolder, relativePath, callback)
HRESULT VerifyFileInSpecialDirectoryMethod(ExternalMethods& methods, ScriptCall& call);
// cancelVerifyThread(): the running search ends with Cancelled.
HRESULT CancelVerifyThreadMethod(ExternalMethods& methods, ScriptCall& call);
// setUninstallRegistryFromStub(productCode, use64BitView)
HRESULT SetUninstallRegistryFromStubMethod(ExternalMethods& methods, ScriptCall& call);
// isUninstallModeLaunch(): true, with "uninstallMode" and "defaultOption" set,
// when the stub was started to remove or modify the product.
HRESULT IsUninstallModeLaunchMethod(ExternalMethods& methods, ScriptCall& call);

}  // namespace stubframework::externalmethods
