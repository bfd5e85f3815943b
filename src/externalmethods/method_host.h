// What the script methods reach of the running application: its log, the
// property store, the settings key, the resume mode of the run, the bridge,
// the window side of the UI and the telemetry reports. The application
// implements it; a table built without one logs nothing and reaches no window.
#pragma once

#include <windows.h>

#include <string>

#include "base/log.h"
#include "base/property_bag.h"
#include "htmlui/html_external.h"
#include "htmlui/ui_host.h"
#include "sysinfo/fact_source.h"
#include "telemetry/analytics.h"
#include "trust/release_key.h"
#include "workflow/package_folders.h"

namespace stubframework::externalmethods {

class MethodHost {
 public:
  virtual base::Log* log() = 0;
  // The run's store; the method table reaches it only under its own lock.
  virtual base::PropertyBag& properties() = 0;
  // The settings key of this run.
  virtual const std::wstring& settings_key() = 0;
  // The settings key of the product as installed, whatever root this run uses.
  virtual std::wstring base_reg_key() = 0;
  // NONE 0, DOWNLOADING 1, INSTALLING 2, from the command line.
  virtual int resume_mode() = 0;
  // The script bridge (window.external); null before it exists.
  virtual htmlui::HtmlExternal* external() = 0;
  // The window and dialog side of the UI while it is shown; null otherwise.
  virtual htmlui::UiHost* ui_host() = 0;
  // The folders this run's downloads wrote into: below them, as below the
  // temporary folder, the end of the run may delete package folders.
  virtual workflow::DownloadFolders* download_folders() { return nullptr; }
  // What downloads, installs and the self-update must be signed with.
  virtual trust::ReleaseKey release_key() { return trust::ProductReleaseKey(); }

  // What the install and resume methods copy for their work.
  // The product id and version settings.
  virtual std::wstring product_id() = 0;
  virtual std::wstring product_version() = 0;
  // The stub file the user started (the "shortcut=" argument); empty without one.
  virtual std::wstring stub_path() = 0;
  // The pass-through text of the command line, put before installer parameters.
  virtual std::wstring passthrough() = 0;
  // "/QN" on the stub's own command line: installers run silently too.
  virtual bool silent_launch() = 0;
  // Adds a file to the logs a failed run uploads. Called from worker threads
  // under the method table's lock.
  virtual void AddUploadFile(const std::wstring& path) = 0;
  // The reports to the telemetry service.
  virtual telemetry::Analytics* analytics() = 0;

  // What the maintenance and self-update methods copy for their work.
  // "uninstall" or "modify" when the command line asks for one (the stub was
  // started from the system's programs list).
  virtual bool uninstall_mode(std::wstring* mode) = 0;
  // "update=0" on the command line: this run must not update the stub again.
  virtual bool skip_self_update() = 0;
  // The newer stub's file name beside the running one, for the launcher
  // (empty: there is none to start). Called from worker threads under the
  // method table's lock.
  virtual void StoreUpdateStubName(const std::wstring& name) = 0;
  // Makes the run end with the exit code that hands over to the newer stub.
  // Called from worker threads under the method table's lock.
  virtual void StoreSelfUpdateExitCode() = 0;

  // The settings the query methods read and the pages record.
  // "x86" or "x64", found at start.
  virtual std::wstring architecture() = 0;
  virtual std::wstring machine_id() = 0;
  // Each keeps the value and writes it under the settings key.
  virtual void SetChannel(const std::wstring& channel) = 0;
  // False, changing nothing, for a status the pages do not use (0 .. 6).
  virtual bool SetInstallStatus(int status) = 0;
  // A row of the language table becomes the install language and property
  // "lang" (the caller holds the method table's lock); false, changing
  // nothing, for a number outside the table.
  virtual bool SetInstallLanguage(int row) = 0;
  // Rows of the language table: for a Windows language id, and for a code
  // (rows 1 .. 107, compared exactly); 0 when nothing matches.
  virtual int LanguageForId(unsigned language_id) = 0;
  virtual int LanguageForCode(const std::wstring& code) = 0;

  // Where the system checks read the machine; tests give other facts.
  virtual const sysinfo::FactSource& facts();
  // The restart request itself (ExitWindowsEx); tests put a recorder here.
  virtual bool RequestRestart(UINT flags, DWORD reason);

 protected:
  ~MethodHost() = default;
};

// The host's facts, or the running machine's without a host.
const sysinfo::FactSource& FactsOf(MethodHost* host);

}  // namespace stubframework::externalmethods
